#!/bin/bash
# Builds the 32-bit server and its benchmark, prepares the Wine prefix,
# registers the server, runs the benchmark and stops the Wine session.
#   scripts/bench.sh             the full table, then the summary lines
#   scripts/bench.sh --summary   only the summary lines, "name value", on
#                                stdout (everything else goes to stderr)
# It measures the 32-bit product (the 64-bit build where no 32-bit program can
# run); ZELK_BENCH_ARCH=x86_64 measures the 64-bit
# build instead, for a host that runs no 32-bit programs. The build folder is
# build/<arch>, or $BUILD_ROOT/<arch>. Exit status: 0, or 2 when some figure
# could not be measured (it shows as n/a), or 1.
# The benchmark needs the server idle: it waits for a running ZelkAdmin.exe
# to exit, and it changes the prefix's HKLM\Software\Zelk\SafeList for the
# length of the run, so do not run it beside the end-to-end tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${ZELK_BENCH_ARCH:-$("$root/scripts/runnable-archs.sh" | cut -d" " -f1)}
build_dir=${BUILD_ROOT:-$root/build}/$arch
wine_run=$build_dir/wine-run.sh

bench_args=()
exec 3>&1
case "${1:-}" in
  "") ;;
  --summary)
    bench_args=(--summary)
    # Only the benchmark's own stdout stays on stdout.
    exec 3>&1 1>&2
    ;;
  *)
    echo "usage: scripts/bench.sh [--summary]" >&2
    exit 1
    ;;
esac

"$root/scripts/build.sh" "$arch"
if ! wine_version=$("$wine_run" --version 2>&1); then
  # Some virtual machines turn the kernel's 32-bit support off.
  echo "bench: Wine does not start for $arch here: $wine_version" >&2
  [ "$arch" = i686 ] && echo "bench: ZELK_BENCH_ARCH=x86_64 $0 measures the 64-bit build" >&2
  exit 1
fi
"$root/scripts/wine-prefix.sh" start "$build_dir"
trap '"$root/scripts/wine-prefix.sh" stop "$build_dir"' EXIT

# The machine may be shared: its load before and after tells how noisy the run was.
load_average() { cut -d' ' -f1-3 /proc/loadavg; }
cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n1)
echo "machine: $(nproc) CPUs, $cpu, $wine_version, $arch build"
echo "load average before: $(load_average)"
"$wine_run" "$build_dir/bin/ZelkAdmin.exe" /RegServer
status=0
"$wine_run" "$build_dir/bin/zelk_bench.exe" ${bench_args[@]+"${bench_args[@]}"} >&3 || status=$?
echo "load average after: $(load_average)" >&2
exit "$status"
