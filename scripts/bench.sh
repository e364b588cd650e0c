#!/bin/bash
# Builds the 32-bit server and its benchmark, prepares the Wine prefix,
# registers the server, runs the benchmark and stops the Wine session.
#   scripts/bench.sh        (the build folder is build/i686, or $BUILD_ROOT/i686)
# The benchmark needs the server idle: it waits for a running ZelkAdmin.exe
# to exit, and it changes the prefix's HKLM\Software\Zelk\SafeList for the
# length of the run, so do not run it beside the end-to-end tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${BUILD_ROOT:-$root/build}/i686
wine_run=$build_dir/wine-run.sh

"$root/scripts/build.sh" i686
"$root/scripts/wine-prefix.sh" start "$build_dir"
trap '"$root/scripts/wine-prefix.sh" stop "$build_dir"' EXIT

echo "machine: $(nproc) CPUs, $(lscpu | sed -n 's/^Model name: *//p' | head -n1), $(wine --version)"
"$wine_run" "$build_dir/bin/ZelkAdmin.exe" /RegServer
"$wine_run" "$build_dir/bin/zelk_bench.exe"
