# Shared by the installer tests, which CTest runs in order in one Wine prefix of
# their own (build/<arch>/msiprefix). Set by CTest: ZELK_MSI_PREFIX, ZELK_WINEARCH,
# ZELK_MSI_OLD and ZELK_MSI_NEW (packages 1.0.0 and 1.0.1), ZELK_BIN_DIR.
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

# msi STEP EXPECTED ARGS...: runs msiexec quietly with a verbose log, checks
# its exit code (0, or "failure" for any other) and prints the log otherwise.
msi() {
  local step=$1 expected=$2 status=0
  shift 2
  local log="$ZELK_MSI_PREFIX/$step.log"
  rm -f "$log"
  win msiexec "$@" /qn /l*v "$(windows_path "$log")" >/dev/null 2>&1 || status=$?
  if [ "$expected" = failure ] && [ "$status" -ne 0 ]; then return 0; fi
  if [ "$expected" = "$status" ]; then return 0; fi
  cat "$log" 2>/dev/null || true
  fail "msiexec $* ended with $status, expected $expected"
}

# The installed server, as a client sees it; see client.vbs. The output goes
# to a file: the server started for the client inherits cscript's streams.
client() {
  local out="$ZELK_MSI_PREFIX/client.out"
  win cscript //nologo "$(windows_path "$here/client.vbs")" "$@" >"$out" 2>&1 || true
  tr -d '\r' <"$out"
}

# What client.vbs prints for the server installed here, seeded once.
seeded_client_output() {
  printf 'server=C:\\Program Files\\Zelk\\ZelkAdmin.exe\nTotalPopups=7\nprotected=2\nlogged=True\n'
}

expect_seeded_server() {
  local seen
  seen=$(client "$@")
  [ "$seen" = "$(seeded_client_output)" ] || fail "the installed server answered: $seen"
}

# The server quits a few seconds after its last client; msiexec must not
# replace or remove its file before.
wait_for_server_exit() {
  local pid
  for _ in $(seq 1 30); do
    local running=0
    for pid in $(pgrep -f 'ZelkAdmin\.exe' || true); do
      grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && running=1
    done
    [ "$running" -eq 1 ] || return 0
    sleep 1
  done
  fail "ZelkAdmin.exe still runs"
}

# DisplayVersion of each Programs and Features entry named ZelkAdmin.
installed_versions() {
  win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk 'function flush() { if (name == "ZelkAdmin") print version; name = version = "" }
         /^HKEY/ {flush()}
         $1 == "DisplayName" {name = $3}
         $1 == "DisplayVersion" {version = $3}
         END {flush()}'
}

expect_nothing_installed() {
  local key
  [ ! -e "$install_dir" ] || fail "$install_dir is still there: $(ls "$install_dir")"
  for key in "${registration_keys[@]}"; do
    if win reg query "$key" >/dev/null 2>&1; then fail "$key is still registered"; fi
  done
  [ -z "$(installed_versions)" ] || fail "still in Programs and Features: $(installed_versions)"
}
