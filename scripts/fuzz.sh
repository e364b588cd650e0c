#!/usr/bin/env bash
# Builds the URL decomposition fuzzer natively with clang (libFuzzer, address
# and undefined-behaviour sanitizers) into build/fuzz/ and runs it for a
# bounded time. Exits non-zero when the build fails or the fuzzer finds
# anything (crash, sanitizer report, broken invariant, leak or timeout).
#
# Usage: scripts/fuzz.sh [seconds]     (default 30; FUZZ_SECONDS also works)
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-${FUZZ_SECONDS:-30}}"
out_dir="${repo_root}/build/fuzz"
clang_version=14
runtime_glob="/usr/lib/llvm-${clang_version}/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a"
cxx="clang++-${clang_version}"

if ! [[ "${seconds}" =~ ^[0-9]+$ ]] || [[ "${seconds}" -eq 0 ]]; then
  echo "fuzz.sh: the time must be a positive number of seconds, not '${seconds}'" >&2
  exit 2
fi

install_packages() {
  if [[ "$(id -u)" -ne 0 ]]; then
    echo "fuzz.sh: missing $*; install them as root (apt-get install $*)" >&2
    exit 1
  fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@"
}

# clang and its libFuzzer runtime are separate packages; bring in whichever
# is missing.
missing=()
command -v "${cxx}" >/dev/null 2>&1 || missing+=("clang-${clang_version}")
compgen -G "${runtime_glob}" >/dev/null || missing+=("libclang-rt-${clang_version}-dev")
if [[ ${#missing[@]} -gt 0 ]]; then
  install_packages "${missing[@]}"
fi
if ! compgen -G "${runtime_glob}" >/dev/null; then
  echo "fuzz.sh: libFuzzer runtime still missing (expected ${runtime_glob})" >&2
  exit 1
fi

mkdir -p "${out_dir}/corpus" "${out_dir}/artifacts"
binary="${out_dir}/url_parts_fuzzer"
echo "fuzz.sh: building ${binary}"
"${cxx}" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=undefined -I"${repo_root}" \
  "${repo_root}/safelist/url_parts.cpp" "${repo_root}/tests/fuzz/url_parts_fuzzer.cpp" \
  -o "${binary}"

# New inputs go to build/fuzz/corpus (the first directory); the seeds in the
# repository are only read.
echo "fuzz.sh: running for ${seconds} s"
"${binary}" \
  -max_total_time="${seconds}" \
  -timeout=10 \
  -rss_limit_mb=2048 \
  -print_final_stats=1 \
  -artifact_prefix="${out_dir}/artifacts/" \
  "${out_dir}/corpus" "${repo_root}/tests/fuzz/corpus"
echo "fuzz.sh: no findings in ${seconds} s"
