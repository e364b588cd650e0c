#!/bin/bash
# prefix.sh start|stop: the installer tests' own Wine prefix, made afresh, with
# a persistent wineserver whose streams go nowhere (so that it never holds
# CTest's pipes); stop ends it and every Wine process of the prefix.
. "$(dirname "$0")/msi_test_lib.sh"
wineserver -k </dev/null >/dev/null 2>&1 || true
[ "$1" = start ] || exit 0
rm -rf "$WINEPREFIX"
win wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
win cmd /c exit >/dev/null 2>&1
