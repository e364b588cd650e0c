#!/bin/bash
# The exported pop-up log opened in a real browser. Runs on the build machine:
#   log_page_test.sh WINE_RUN ZELKCTL_EXE
# WINE_RUN is the build's wine-run.sh, ZELKCTL_EXE the built zelkctl.exe; the
# server must be registered in that Wine prefix. Exit code 77 (skipped) when
# headless Chromium or python3 is not installed here.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 WINE_RUN ZELKCTL_EXE" >&2
  exit 2
fi

chromium=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$chromium" ]; then
  echo "SKIPPED: headless Chromium is not installed (Debian package 'chromium'," \
       "installed by scripts/setup.sh); the exported log page was not checked in a browser."
  exit 77
fi
if ! command -v python3 >/dev/null; then
  echo "SKIPPED: python3 is not installed; the browser's DOM cannot be checked."
  exit 77
fi

exec python3 "$(dirname "$0")/log_page_test.py" "$1" "$2" "$chromium"
