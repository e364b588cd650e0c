#!/usr/bin/env python3
"""The exported pop-up log, as a browser sees it.

Records hostile URLs through LogPopUrl (with "zelkctl log add", under Wine),
exports the log with "zelkctl log export", opens the page in headless
Chromium and checks the DOM that Chromium built from it:

- every recorded entry is exactly one table row of three cells, below one
  header row;
- no URL became markup: no script element, no event-handler attribute, no
  javascript: link, no element the page does not write itself;
- the hostile text is still there, as text and as whole link targets, so the
  page neither dropped nor cut what was logged.

The log, LogCount and LogPopup are restored afterwards.

usage: log_page_test.py WINE_RUN ZELKCTL_EXE CHROMIUM
"""

import html.parser
import os
import re
import shutil
import subprocess
import sys
import tempfile

# (pop-up URL, source URL), as a hostile page could make the browser log them.
HOSTILE_ENTRIES = [
    ("http://evil.test/<script>alert(1)</script>", "http://src.test/plain"),
    ("javascript:alert(document.cookie)", "http://src.test/js-popup"),
    ("http://evil.test/'onmouseover='alert(2)'x='",
     'http://src.test/"onclick="alert(3)"x="'),
    ('http://evil.test/"><img src=x onerror=alert(4)>', "javascript:alert(5)"),
    ("http://evil.test/</td></tr></table><script>alert(6)</script>",
     "http://src.test/?a=1&b=2"),
    ("JaVaScRiPt:alert(7)", "http://src.test/&lt;script&gt;&#60;b&#62;"),
    ("http://evil.test/<svg/onload=alert(8)>",
     "http://src.test/<iframe src=javascript:alert(9)>"),
    ("data:text/html,<script>alert(10)</script>", "http://src.test/data"),
]

# Entries whose both URLs must come out as links, target intact: quotes in
# them must not have closed the attribute early.
MUST_LINK = [
    HOSTILE_ENTRIES[0],
    HOSTILE_ENTRIES[2],
    HOSTILE_ENTRIES[4],
]

# The elements the exporter writes; anything else came from a URL.
PAGE_ELEMENTS = {"html", "head", "meta", "title", "style", "body", "h1", "p", "table",
                 "thead", "tbody", "tr", "th", "td", "a", "span"}

LINK_ATTRIBUTES = {"href", "src", "action", "formaction", "data", "xlink:href", "poster",
                   "background", "srcdoc"}


class Failure(Exception):
    pass


def pe_machine(path):
    """The machine field of a Windows executable's PE header."""
    with open(path, "rb") as executable:
        header = executable.read(4096)
    offset = int.from_bytes(header[0x3C:0x40], "little")
    if header[offset:offset + 4] != b"PE\0\0":
        raise Failure(f"{path} is not a Windows executable")
    return int.from_bytes(header[offset + 4:offset + 6], "little")


class Tool:
    """Runs Windows programs in the build's Wine prefix."""

    def __init__(self, wine_run, zelkctl):
        self.wine_run = wine_run
        self.zelkctl = zelkctl
        # reg must look at the registry view of the build's own server: in a
        # 64-bit prefix a plain "reg" sees the 32-bit view.
        self.registry_view = "/reg:64" if pe_machine(zelkctl) == 0x8664 else "/reg:32"

    def run(self, *args, check=True):
        # Standard error goes to a file, not a pipe: under Wine a server that
        # the call starts inherits the caller's Unix standard error and would
        # hold a pipe open until it idles out, seconds after the call ended.
        with tempfile.TemporaryFile() as errors:
            result = subprocess.run([self.wine_run, *args], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=errors, timeout=120)
            errors.seek(0)
            stderr = errors.read().decode("utf-8", "replace").replace("\r\n", "\n")
        stdout = result.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        if check and result.returncode != 0:
            raise Failure(f"{' '.join(args)} exited with {result.returncode}:\n{stdout}{stderr}")
        return result.returncode, stdout

    def zelk(self, *args, check=True):
        return self.run(self.zelkctl, *args, check=check)

    def windows_path(self, unix_path):
        return self.run("winepath", "-w", unix_path)[1].strip()

    def unix_path(self, windows_path):
        return self.run("winepath", "-u", windows_path)[1].strip()

    def settings_value(self, name):
        """The data of one value of HKLM\\Software\\Zelk, as reg prints it."""
        _, out = self.run("reg", "query", "HKLM\\Software\\Zelk", "/v", name, self.registry_view)
        for line in out.splitlines():
            match = re.match(r"\s*" + re.escape(name) + r"\s+REG_\w+\s+(.*)$", line)
            if match:
                return match.group(1).strip()
        raise Failure(f"reg query printed no value {name}:\n{out}")

    def set_log_count(self, count):
        self.run("reg", "add", "HKLM\\Software\\Zelk", "/v", "LogCount", "/t", "REG_DWORD",
                 "/d", str(count), "/f", self.registry_view)


class SavedLog:
    """The log file, its count and the LogPopup flag, put back by restore()."""

    def __init__(self, tool, folder):
        self.tool = tool
        self.log_popup = tool.zelk("get", "LogPopup")[1].strip()
        self.log_count = int(tool.settings_value("LogCount"), 0)
        self.log_file = tool.unix_path(tool.settings_value("LogFile"))
        self.copy = os.path.join(folder, "saved.log")
        self.existed = os.path.exists(self.log_file)
        if self.existed:
            shutil.copyfile(self.log_file, self.copy)

    def restore(self):
        if self.existed:
            shutil.copyfile(self.copy, self.log_file)
        elif os.path.exists(self.log_file):
            os.remove(self.log_file)
        self.tool.set_log_count(self.log_count)
        self.tool.zelk("set", "LogPopup", self.log_popup)


class DomSummary(html.parser.HTMLParser):
    """What the checks need from the serialised DOM."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.elements = []  # (tag, attributes) in document order
        self.header_rows = []  # cell tags of each row in thead
        self.body_rows = []  # [(cell tag, attributes)] of each row in tbody
        self.text = []
        self.section = None
        self.charset = None

    def handle_starttag(self, tag, attrs):
        self.elements.append((tag, attrs))
        attributes = dict(attrs)
        if tag == "meta" and "charset" in attributes:
            self.charset = attributes["charset"]
        if tag in ("thead", "tbody"):
            self.section = tag
        elif tag == "tr":
            (self.header_rows if self.section == "thead" else self.body_rows).append([])
        elif tag in ("td", "th"):
            rows = self.header_rows if self.section == "thead" else self.body_rows
            if rows:
                rows[-1].append((tag, attributes))

    def handle_endtag(self, tag):
        if tag in ("thead", "tbody"):
            self.section = None

    def handle_data(self, data):
        self.text.append(data)


def normalised_url(value):
    """A URL attribute as the browser resolves its scheme: leading blanks and
    control characters dropped, tabs and line breaks removed, lower case."""
    value = value.lstrip("".join(chr(c) for c in range(0x21)))
    return re.sub(r"[\t\n\r]", "", value).lower()


def check_no_active_content(dom):
    tags = [tag for tag, _ in dom.elements]
    if "script" in tags:
        raise Failure("the page has a script element")
    strange = sorted(set(tags) - PAGE_ELEMENTS)
    if strange:
        raise Failure(f"the page has elements the exporter never writes: {strange}")
    for tag, attrs in dom.elements:
        for name, value in attrs:
            if name.startswith("on"):
                raise Failure(f"<{tag}> has an event-handler attribute {name}={value!r}")
            if name in LINK_ATTRIBUTES and value is not None:
                scheme = normalised_url(value).split(":", 1)[0]
                if scheme in ("javascript", "vbscript", "data"):
                    raise Failure(f"<{tag}> has a {scheme}: link {name}={value!r}")


def check_table(dom):
    if dom.charset is None or dom.charset.lower() != "utf-8":
        raise Failure(f"the page does not declare UTF-8 (meta charset {dom.charset!r})")
    if [[tag for tag, _ in row] for row in dom.header_rows] != [["th", "th", "th"]]:
        raise Failure(f"expected one header row of three cells, got {dom.header_rows}")
    entry_rows = [row for row in dom.body_rows if [tag for tag, _ in row] == ["td"] * 3]
    if len(entry_rows) != len(HOSTILE_ENTRIES) or len(dom.body_rows) != len(entry_rows):
        raise Failure(f"{len(HOSTILE_ENTRIES)} entries were logged, but the table body has "
                      f"{len(dom.body_rows)} rows of which {len(entry_rows)} are entry rows")


def check_content_kept(dom):
    targets = {value for tag, attrs in dom.elements if tag == "a"
               for name, value in attrs if name == "href"}
    for pop_up, source in MUST_LINK:
        for url in (pop_up, source):
            if url not in targets:
                raise Failure(f"no link has the whole URL {url!r} as its target; "
                              f"targets: {sorted(targets)}")
    logged = {url for entry in HOSTILE_ENTRIES for url in entry}
    foreign = targets - logged
    if foreign:
        raise Failure(f"link targets that were never logged (cut or mangled): {foreign}")
    text = "".join(dom.text)
    if "<script>" not in text:
        raise Failure("the logged '<script>' text does not show as text")


def export_page(tool, folder):
    tool.zelk("set", "LogPopup", "on")
    tool.zelk("log", "clear")
    tool.set_log_count(0)
    for pop_up, source in HOSTILE_ENTRIES:
        tool.zelk("log", "add", pop_up, source)
    page = os.path.join(folder, "log.html")
    tool.zelk("log", "export", tool.windows_path(page))
    return page


def dump_dom(chromium, page, folder):
    result = subprocess.run(
        [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
         "--disable-background-networking", f"--user-data-dir={os.path.join(folder, 'profile')}",
         "--dump-dom", "file://" + page],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=180)
    dom = result.stdout.decode("utf-8", "replace")
    if result.returncode != 0 or "<table" not in dom:
        raise Failure(f"Chromium exited with {result.returncode} and dumped:\n{dom[:2000]}\n"
                      f"stderr:\n{result.stderr.decode('utf-8', 'replace')[-4000:]}")
    return dom


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="zelk_log_page_") as folder:
        try:
            tool = Tool(sys.argv[1], sys.argv[2])
            saved = SavedLog(tool, folder)
        except (Failure, OSError, subprocess.TimeoutExpired) as failure:
            print(f"FAILED before the test could start: {failure}")
            return 1
        try:
            page = export_page(tool, folder)
            dom = DomSummary()
            dom.feed(dump_dom(sys.argv[3], page, folder))
            dom.close()
            check_no_active_content(dom)
            check_table(dom)
            check_content_kept(dom)
        except (Failure, subprocess.TimeoutExpired) as failure:
            print(f"FAILED: {failure}")
            return 1
        finally:
            try:
                saved.restore()
            except (Failure, subprocess.TimeoutExpired) as failure:
                print(f"FAILED to put the log back: {failure}")
                return 1
    print(f"passed: {len(HOSTILE_ENTRIES)} hostile entries, one row each, no active content")
    return 0


if __name__ == "__main__":
    sys.exit(main())
