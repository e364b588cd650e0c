#!/bin/bash
# The main job: set up the machine, build the product (32-bit), register the
# server in the build's own Wine prefix, and run a client session against it.
# It leaves no Wine process running.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_ROOT:-$root/build}/i686

"$root/scripts/setup.sh"
"$root/scripts/build.sh" i686
"$root/scripts/wine-prefix.sh" start "$build_dir"
trap '"$root/scripts/wine-prefix.sh" stop "$build_dir"' EXIT

run() { "$build_dir/wine-run.sh" "$@" </dev/null; }
windows_path() { echo "Z:${1//\//\\}"; }

run "$build_dir/bin/ZelkAdmin.exe" /RegServer
echo "ZelkAdmin registered from $(windows_path "$build_dir/bin/ZelkAdmin.exe")"

echo "== client session (VBScript, late bound) =="
run cscript //nologo "$(windows_path "$root/examples/session.vbs")"

if [ -f "$root/examples/zelkctl-session.sh" ]; then
  echo "== administrator session (zelkctl) =="
  ZELKCTL="$build_dir/bin/zelkctl.exe" WINE_RUN="$build_dir/wine-run.sh" \
    bash "$root/examples/zelkctl-session.sh"
fi

# The server quits five seconds after its last client; wait for it.
for _ in $(seq 1 30); do
  pgrep -f 'ZelkAdmin.exe' >/dev/null || break
  sleep 1
done
