#!/usr/bin/env python3
"""The Group Policy templates as the Group Policy editor reads them, and as
Group Policy applies them:
  templates_test.py POLICY_DEFINITIONS_FOLDER WINE_RUN ZELKCTL_EXE
Both files are well-formed; every $(string.X) and $(presentation.X) of the
ADMX resolves in the ADML; each presentation's controls name elements of the
policy that uses it; every policy sits in the ZelkAdmin category. Then every
policy is written enabled, and then disabled, into the prefix's registry the
way Group Policy writes it, and "zelkctl policy" (the server's own reader)
must take every value and leave nothing "not configured": what a policy
writes is what the server reads, and the reverse."""
import os
import re
import subprocess
import sys
import tempfile
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


def registry_file(enabled):
    """The .reg text that Group Policy's writes come to with every policy in one state."""
    values = {}  # key -> [(name, .reg data)]
    for policy in admx.iterfind(".//p:policy", NS):
        state = policy.find("p:enabledValue/p:decimal" if enabled else "p:disabledValue/p:decimal", NS)
        if state is not None:
            values.setdefault(policy.get("key"), []).append(
                (policy.get("valueName"), "dword:%08x" % int(state.get("value"))))
        for element in policy.iterfind("p:elements/*", NS) if enabled else []:
            tag = element.tag.split("}")[1]
            if tag == "text":
                values.setdefault(policy.get("key"), []).append((element.get("valueName"), '"C:\\\\gp.wav"'))
            elif tag == "list":
                values.setdefault(element.get("key"), []).append(("1", '"site http://gp.test/"'))
    lines = ["Windows Registry Editor Version 5.00", "", r"[-HKEY_LOCAL_MACHINE\Software\Policies\Zelk]"]
    for key, pairs in values.items():
        lines += ["", f"[HKEY_LOCAL_MACHINE\\{key}]"] + [f'"{name}"={data}' for name, data in pairs]
    return "\r\n".join(lines + ["", ""])


def zelkctl_policy(reg_text):
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False, encoding="utf-16") as reg:
        reg.write(reg_text)
    try:
        subprocess.run([wine_run, "reg", "import", "Z:" + reg.name.replace("/", "\\")], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        run = subprocess.run([wine_run, zelkctl, "policy"], stdin=subprocess.DEVNULL,
                             capture_output=True)
        return run.returncode, run.stdout.decode("latin-1").replace("\r", "")
    finally:
        os.unlink(reg.name)


if len(sys.argv) == 4 and not failures:
    wine_run, zelkctl = sys.argv[2], sys.argv[3]
    try:
        for enabled in (True, False):
            status, shown = zelkctl_policy(registry_file(enabled))
            unset = [line.strip() for line in shown.splitlines() if "not configured" in line]
            if status != 0 or (enabled and unset):
                failures.append(f"every policy {'enabled' if enabled else 'disabled'}: zelkctl policy "
                                f"ended with {status}, not configured: {unset}\n{shown}")
    finally:
        zelkctl_policy("Windows Registry Editor Version 5.00\r\n\r\n"
                       "[-HKEY_LOCAL_MACHINE\\Software\\Policies\\Zelk]\r\n")

print("\n".join(failures) or f"templates check passed: {len(admx.findall('.//p:policy', NS))} policies")
sys.exit(1 if failures else 0)
