#!/usr/bin/env python3
"""Hostile URLs logged through LogPopUrl ("zelkctl log add"), exported: one table row per
entry and no script element, event-handler attribute or javascript: link in headless
Chromium's DOM. Puts back the log, LogCount and LogPopup.
usage: log_page_test.py WINE_RUN ZELKCTL_EXE CHROMIUM"""

import html.parser
import pathlib
import re
import subprocess
import sys
import tempfile

# (pop-up URL, source URL), as a hostile page could make the browser log them.
HOSTILE = [
    ("http://evil.test/<script>alert(1)</script>", "http://src.test/plain"),
    ("javascript:alert(document.cookie)", "http://src.test/js-popup"),
    ("http://evil.test/'onmouseover='alert(2)'x='", 'http://src.test/"onclick="alert(3)"x="'),
    ('http://evil.test/"><img src=x onerror=alert(4)>', "javascript:alert(5)"),
    ("http://evil.test/</td></tr></table><script>alert(6)</script>", "http://src.test/?a=1&b=2"),
    ("JaVaScRiPt:alert(7)", "http://src.test/&lt;script&gt;&#60;b&#62;"),
    ("data:text/html,<script>alert(8)</script>", "http://src.test/<svg/onload=alert(9)>"),
]
PAGE_ELEMENTS = {"html", "head", "meta", "title", "style", "body", "h1", "p", "table", "thead",
                 "tbody", "tr", "th", "td", "a", "span"}  # no script; anything else came from a URL


def run(*args):
    # Standard error to a file: a server started under Wine would hold a pipe open.
    with tempfile.TemporaryFile() as errors:
        result = subprocess.run([sys.argv[1], *args], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=errors, timeout=120)
        errors.seek(0)
        if result.returncode != 0:
            sys.exit(f"FAILED: {args} exited with {result.returncode}: {errors.read()!r}")
    return result.stdout.decode("utf-8", "replace").strip()


def main():
    zelkctl, chromium = sys.argv[2], sys.argv[3]
    # reg must look at the server's view, which a 64-bit prefix does not show by default.
    view = "/reg:64" if 'WINEARCH="win64"' in pathlib.Path(sys.argv[1]).read_text() else "/reg:32"
    key = r"HKLM\Software\Zelk"
    setting = lambda name: re.search(name + r"\s+REG_\w+\s+(.*)",
                                     run("reg", "query", key, "/v", name, view)).group(1).strip()
    log_count, log_popup = int(setting("LogCount"), 0), run(zelkctl, "get", "LogPopup")
    log = pathlib.Path(run("winepath", "-u", setting("LogFile")))
    saved = log.read_bytes() if log.exists() else None
    with tempfile.TemporaryDirectory(prefix="zelk_log_page_") as folder:
        try:
            run(zelkctl, "set", "LogPopup", "on")
            run(zelkctl, "log", "clear")
            for pop_up, source in HOSTILE:
                run(zelkctl, "log", "add", pop_up, source)
            page = f"{folder}/log.html"
            run(zelkctl, "log", "export", run("winepath", "-w", page))
            browser = subprocess.run(
                [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 f"--user-data-dir={folder}/profile", "--dump-dom", "file://" + page],
                stdin=subprocess.DEVNULL, capture_output=True, timeout=180)
        finally:
            run(zelkctl, "log", "clear")
            if saved is not None:
                log.write_bytes(saved)
            run("reg", "add", key, "/v", "LogCount", "/t", "REG_DWORD", "/d", str(log_count),
                "/f", view)
            run(zelkctl, "set", "LogPopup", log_popup)
    elements = []  # (tag, attributes) in document order
    parser = html.parser.HTMLParser()
    parser.handle_starttag = lambda tag, attrs: elements.append((tag, attrs))
    parser.feed(browser.stdout.decode("utf-8", "replace"))
    rows = [tag for tag, _ in elements if tag in ("tr", "th", "td")]
    failures = [] if rows == ["tr"] + ["th"] * 3 + (["tr"] + ["td"] * 3) * len(HOSTILE) else [
        f"expected a header and {len(HOSTILE)} rows of three cells: {rows}"]
    for tag, attrs in elements:
        failures += [f"the page has a <{tag}> element"] * (tag not in PAGE_ELEMENTS)
        for name, value in attrs:
            scheme = re.sub(r"[\x00-\x20]", "", value or "").lower().split(":")[0]  # as browsers do
            if name.startswith("on") or (name in ("href", "src", "action", "formaction") and
                                         scheme in ("javascript", "vbscript", "data")):
                failures.append(f"<{tag}> has {name}={value!r}")
    if failures:
        sys.exit("\n".join(["FAILED:", *failures, "Chromium:", browser.stderr.decode()[-2000:]]))
    print(f"passed: {len(HOSTILE)} hostile entries, one row each, no active content")


if __name__ == "__main__":
    main()
