#!/usr/bin/env python3
"""The Group Policy templates as the Group Policy editor reads them:
  templates_test.py POLICY_DEFINITIONS_FOLDER
Both files are well-formed; every $(string.X) and $(presentation.X) of the
ADMX resolves in the ADML; each presentation's controls name elements of the
policy that uses it; every policy sits in the ZelkAdmin category."""
import re
import sys
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
folder = sys.argv[1]
admx = ET.parse(f"{folder}/ZelkAdmin.admx").getroot()
adml = ET.parse(f"{folder}/en-US/ZelkAdmin.adml").getroot()
strings = {s.get("id") for s in adml.iterfind(".//p:stringTable/p:string", NS)}
presentations = {p.get("id"): p for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}
failures = []

for element in admx.iter():
    for attribute, text in element.attrib.items():
        for table, name in re.findall(r"\$\((string|presentation)\.([^)]*)\)", text):
            if name not in (strings if table == "string" else presentations):
                failures.append(f"{element.get('name')} {attribute}: no {table} {name}")

for policy in admx.iterfind(".//p:policy", NS):
    name = policy.get("name")
    if policy.find("p:parentCategory", NS).get("ref") != "ZelkAdmin":
        failures.append(f"{name}: not in the ZelkAdmin category")
    elements = {e.get("id") for e in policy.iterfind("p:elements/*", NS)}
    reference = re.fullmatch(r"\$\(presentation\.(.*)\)", policy.get("presentation", ""))
    controls = set()
    if reference and reference.group(1) in presentations:
        controls = {c.get("refId") for c in presentations[reference.group(1)]}
    if controls != elements:
        failures.append(f"{name}: elements {sorted(elements)}, presentation controls {sorted(controls)}")

print("\n".join(failures) or f"templates check passed: {len(admx.findall('.//p:policy', NS))} policies")
sys.exit(1 if failures else 0)
