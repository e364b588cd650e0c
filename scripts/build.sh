#!/bin/bash
# Configures and builds one architecture: scripts/build.sh [i686|x86_64]
# The build folder is build/<arch> (or $BUILD_ROOT/<arch>).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-i686}
build_dir=${BUILD_ROOT:-$root/build}/$arch
cmake -S "$root" -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
