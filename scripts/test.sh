#!/bin/bash
# Installs what is missing, builds both architectures, and runs every test:
# the Windows tests under Wine (32-bit product, then 64-bit) and the native
# fuzz run of URL decomposition. Extra arguments go to ctest (e.g. -R name).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" || exit 1

archs=${ZELK_ARCHS:-"i686 x86_64"}
status=0
for arch in $archs; do
  build_dir=${BUILD_ROOT:-$root/build}/$arch
  "$root/scripts/build.sh" "$arch" || { status=1; continue; }
  "$root/scripts/wine-prefix.sh" start "$build_dir"
  (cd "$build_dir" && ctest --output-on-failure "$@") || status=1
  "$root/scripts/wine-prefix.sh" stop "$build_dir"
done

if [ $# -eq 0 ] && [ -x "$root/scripts/fuzz.sh" ]; then
  "$root/scripts/fuzz.sh" || status=1
fi
exit $status
