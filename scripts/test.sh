#!/bin/bash
# Installs what is missing, builds both architectures, and runs every test:
# the Windows tests under Wine (32-bit product, then 64-bit) and the native
# fuzz run of URL decomposition. Extra arguments go to ctest (e.g. -R name).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" || exit 1

# Some machines run no 32-bit Linux programs (a kernel without 32-bit
# execution), and so no 32-bit Wine: there the 32-bit product is built but its
# tests cannot run, and the 64-bit build carries the tests.
runs_32_bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

archs=${ZELK_ARCHS:-"i686 x86_64"}
status=0
for arch in $archs; do
  build_dir=${BUILD_ROOT:-$root/build}/$arch
  "$root/scripts/build.sh" "$arch" || { status=1; continue; }
  if [ "$arch" = i686 ] && ! runs_32_bit; then
    echo "test: this machine cannot run 32-bit programs (no 32-bit Wine): i686 built, its tests skipped"
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
