#!/bin/bash
# Prepares the Wine prefix of one build folder and starts its persistent
# wineserver: scripts/wine-prefix.sh start|stop BUILD_DIR
# Wine's background processes are started here with every standard stream
# redirected, so they never hold a test runner's pipes open.
set -euo pipefail
action=$1
build_dir=$2
# shellcheck disable=SC1091
eval "$(sed -n 's/^export //p' "$build_dir/wine-run.sh")"
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
run() { "$build_dir/wine-run.sh" "$@" </dev/null >/dev/null 2>&1; }

case "$action" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine: creating prefix $WINEPREFIX"
      run wineboot -i
      wineserver -w
    fi
    # Exits with 2 when the prefix's server already runs, which is fine.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    run cmd /c exit
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
esac
