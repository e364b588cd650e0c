# Shared by the installer tests, which CTest runs in order in one Wine prefix of
# their own (build/<arch>/msiprefix). Set by CTest: ZELK_MSI_PREFIX, ZELK_WINEARCH,
# ZELK_MSI_OLD and ZELK_MSI_NEW (packages 1.0.0 and 1.0.1), ZELK_BIN_DIR, ZELK_WINE.
set -euo pipefail
export WINEPREFIX=$ZELK_MSI_PREFIX WINEARCH=$ZELK_WINEARCH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
readonly here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly install_dir="$WINEPREFIX/drive_c/Program Files/Zelk"
readonly class_id='{65134986-1887-42F1-825B-DEF16C9BDF90}'
# Every key /RegServer writes outside the settings key.
readonly registration_keys=("HKCR\\CLSID\\$class_id" 'HKCR\Zelk.Helper' 'HKCR\Zelk.Helper.1'
  'HKCR\AppID\{324BEFAA-7245-4174-9D20-261A99027712}' 'HKCR\AppID\ZelkAdmin.EXE'
  'HKCR\TypeLib\{17AE06AE-DEC8-4691-925A-65ACB14FABE0}')

fail() { echo "FAIL: $*" >&2; exit 1; }
windows_path() { echo "Z:${1//\//\\}"; }
# The build's Wine loader: the 64-bit build starts the 64-bit one itself.
readonly wine_loader=${ZELK_WINE:-wine}
[ "$wine_loader" = wine ] || export WINELOADER=$wine_loader
win() { "$wine_loader" "$@" </dev/null; }

# msi STEP EXPECTED ARGS...: runs msiexec quietly with a verbose log and checks
# its exit code (0, or "failure" for any other); shows the log if it is not.
msi() {
  local log="$ZELK_MSI_PREFIX/$1.log" expected=$2 status=0
  shift 2
  rm -f "$log"
  win msiexec "$@" /qn /l*v "$(windows_path "$log")" >/dev/null 2>&1 || status=$?
  [ "$status" = "$expected" ] || { [ "$expected" = failure ] && [ "$status" -ne 0 ]; } && return 0
  cat "$log" 2>/dev/null || true
  fail "msiexec $* ended with $status, expected $expected"
}

# The installed server, as a client sees it; see client.vbs. The output goes
# to a file: the server started for the client inherits cscript's streams.
client() {
  win cscript //nologo "$(windows_path "$here/client.vbs")" "$@" >"$ZELK_MSI_PREFIX/client.out" 2>&1 || true
  tr -d '\r' <"$ZELK_MSI_PREFIX/client.out"
}

# The installed server answers what a seed (client.vbs seed) left, once.
expect_seeded_server() {
  local seen
  seen=$(client "$@")
  [ "$seen" = "$(printf 'server=C:\\Program Files\\Zelk\\ZelkAdmin.exe\nTotalPopups=7\nprotected=2\nlogged=True')" ] ||
    fail "the installed server answered: $seen"
}

# DisplayVersion of each Programs and Features entry named ZelkAdmin.
installed_versions() {
  win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk 'function flush() { if (name == "ZelkAdmin") print version; name = version = "" }
         /^HKEY/ {flush()} $1 == "DisplayName" {name = $3} $1 == "DisplayVersion" {version = $3}
         END {flush()}'
}
expect_installed() { [ "$(installed_versions)" = "$1" ] || fail "Programs and Features: $(installed_versions)"; }

expect_nothing_installed() {
  local key
  [ ! -e "$install_dir" ] || fail "$install_dir is still there: $(ls "$install_dir")"
  for key in "${registration_keys[@]}"; do
    if win reg query "$key" >/dev/null 2>&1; then fail "$key is still registered"; fi
  done
  expect_installed ""
}

# The server quits a few seconds after its last client; msiexec must not
# replace or remove its file before. Each step waits for that first.
server_runs() {
  local pid
  for pid in $(pgrep -f 'ZelkAdmin\.exe' || true); do
    grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && return 0
  done
  return 1
}
for _ in $(seq 1 30); do server_runs || break; sleep 1; done
! server_runs || fail "ZelkAdmin.exe still runs"
