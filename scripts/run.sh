#!/bin/bash
# The main job: set up the machine, build the product (32-bit) and its MSI
# package, install the package in the build's own Wine prefix with msiexec, as
# an administrator would, and run the client sessions against the installed
# server. It prints the command that removes the package, and leaves no Wine
# process running. On a machine that cannot run 32-bit programs it says so and
# installs the 64-bit build's package instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/setup.sh"
arch=$("$root/scripts/runnable-archs.sh" | cut -d' ' -f1)
if [ "$arch" != i686 ]; then
  "$root/scripts/build.sh" i686
  echo "this machine cannot run 32-bit programs: the session runs the $arch build"
fi
build_dir=${BUILD_ROOT:-$root/build}/$arch
"$root/scripts/build.sh" "$arch"
"$root/scripts/wine-prefix.sh" start "$build_dir"
trap '"$root/scripts/wine-prefix.sh" stop "$build_dir"' EXIT

run() { "$build_dir/wine-run.sh" "$@" </dev/null; }
windows_path() { echo "Z:${1//\//\\}"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
package=$(ls "$build_dir"/ZelkAdmin-"$version"-x*.msi)
installed=$build_dir/wineprefix/drive_c/Program\ Files/Zelk

# A package rebuilt at the same version is a new product to msiexec; the one
# installed by an earlier run goes first, so that the new files are the ones
# that run.
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
for product in $(run reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' |
                 awk '/^HKEY/ {key = $0} $1 == "DisplayName" && $3 == "ZelkAdmin" {sub(/.*\\/, "", key); print key}'); do
  echo "removing the ZelkAdmin installed earlier ($product)"
  run msiexec /x "$product" /qn
done

log=$build_dir/install.log
if ! run msiexec /i "$(windows_path "$package")" /qn /l*v "$(windows_path "$log")"; then
  cat "$log"
  echo "msiexec could not install $package" >&2
  exit 1
fi
echo "installed $(basename "$package") into C:\\Program Files\\Zelk"

echo "== client session (VBScript, late bound) =="
run cscript //nologo "$(windows_path "$root/examples/session.vbs")"

echo "== administrator session (zelkctl) =="
ZELKCTL="$installed/zelkctl.exe" WINE_RUN="$build_dir/wine-run.sh" EXPORT_FILE="$build_dir/zelk-log.html" \
  bash "$root/examples/zelkctl-session.sh"

# The server quits five seconds after its last client; wait for it.
for _ in $(seq 1 30); do
  pgrep -f 'ZelkAdmin.exe' >/dev/null || break
  sleep 1
done

echo "To remove the package (settings and safe list stay):"
echo "  $build_dir/wine-run.sh msiexec /x $(windows_path "$package") /qn"
