#!/bin/bash
# Installs what is missing, builds both architectures, and runs every test:
# the Windows tests under Wine (32-bit product, then 64-bit) and the native
# fuzz run of URL decomposition. Extra arguments go to ctest (e.g. -R name).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" || exit 1

# Where no 32-bit Wine can run, the 32-bit product is built but its tests
# cannot run, and the 64-bit build carries the tests.
runnable=" $("$root/scripts/runnable-archs.sh") "

archs=${ZELK_ARCHS:-"i686 x86_64"}
status=0
for arch in $archs; do
  build_dir=${BUILD_ROOT:-$root/build}/$arch
  "$root/scripts/build.sh" "$arch" || { status=1; continue; }
  if [[ "$runnable" != *" $arch "* ]]; then
    echo "test: this machine cannot run $arch programs under Wine: $arch built, its tests skipped"
    continue
  fi
  "$root/scripts/wine-prefix.sh" start "$build_dir"
  (cd "$build_dir" && ctest --output-on-failure "$@") || status=1
  "$root/scripts/wine-prefix.sh" stop "$build_dir"
done

if [ $# -eq 0 ] && [ -x "$root/scripts/fuzz.sh" ]; then
  "$root/scripts/fuzz.sh" || status=1
fi
exit $status
