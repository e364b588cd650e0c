# Shared by the installer tests, which CTest runs in order in one Wine prefix of
# their own (build/<arch>/msiprefix). Set by CTest: ZELK_MSI_PREFIX, ZELK_WINEARCH,
# ZELK_MSI_OLD and ZELK_MSI_NEW (packages 1.0.0 and 1.0.1), ZELK_BIN_DIR, ZELK_WINE.
set -euo pipefail
export WINEPREFIX=$ZELK_MSI_PREFIX WINEARCH=$ZELK_WINEARCH WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
readonly here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
readonly install_dir="$WINEPREFIX/drive_c/Program Files/Zelk"
readonly class_id='{65134986-1887-42F1-825B-DEF16C9BDF90}'
readonly server='C:\Program Files\Zelk\ZelkAdmin.exe'
readonly log_file="$WINEPREFIX/drive_c/ProgramData/Zelk/Zelk.log"
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

# The installed service answers what a seed (expect_seeded_server seed) left:
# a count, a safe-list entry, a setting and a log row.
expect_seeded_server() {
  local kept=http://kept.example.test/
  [ "${1:-}" != seed ] || js_client seed.out 'IncrementTotalPopups(7)' "ProtectSite('$kept')" AutoShow=false \
    LogPopup=true "LogPopUrl('http://ads.example.test/kept.html','$kept')" || fail "seed: $(output seed.out)"
  js_client seen.out TotalPopups AutoShow "IsUrlProtected('${kept}page.html')" Logs || true
  expect_service_process
  [ "$(output seen.out | head -3)" = "$(printf 'TotalPopups=7\nAutoShow=false\nIsUrlProtected=2')" ] &&
    grep -q ads.example.test/kept.html "$ZELK_MSI_PREFIX/seen.out" || fail "the server answered: $(output seen.out)"
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
  if win sc query ZelkAdmin >/dev/null 2>&1; then fail "the service is still installed"; fi
  expect_installed ""
}

# js_client OUTPUT STEP...: client.js (see there), as a standard user if
# $as_user is set, its output in $ZELK_MSI_PREFIX/OUTPUT; expect_output OUTPUT
# TEXT checks it.
js_client() {
  win ${as_user:+"$ZELK_BIN_DIR/standard_user.exe"} cscript //nologo "$(windows_path "$here/client.js")" \
    "${@:2}" >"$ZELK_MSI_PREFIX/$1" 2>&1
}
output() { tr -d '\r' <"$ZELK_MSI_PREFIX/$1"; }
expect_output() { [ "$(output "$1")" = "$2" ] || fail "client $1: $(output "$1"), expected $2"; }
# Until a client in the background has printed its first line.
wait_output() { until grep -q . "$ZELK_MSI_PREFIX/$1" 2>/dev/null; do sleep 0.2; done; }
standard_user() { win "$ZELK_BIN_DIR/standard_user.exe" "$@"; }
total_popups() { win reg query 'HKLM\Software\Zelk' /v TotalPopups | tr -d '\r' | awk 'NF == 3 {print $3}'; }

service_state() { win sc query ZelkAdmin 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" {print $4}'; }
wait_service() {
  for _ in $(seq 1 20); do [ "$(service_state)" = "$1" ] && return 0; sleep 1; done
  fail "the service is $(service_state), not $1"
}
# "PID COMMAND LINE" of each of this prefix's ZelkAdmin.exe processes.
server_processes() {
  local pid
  for pid in $(pgrep -f 'ZelkAdmin\.exe' || true); do
    grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null &&
      echo "$pid $(tr '\0' ' ' <"/proc/$pid/cmdline" | sed 's/ *$//')"
  done
  return 0
}
expect_service_process() { [ "$(server_processes | cut -d' ' -f2-)" = "$server -Service" ] || fail "$(server_processes)"; }

# The server quits a few seconds after its last client; msiexec must not remove
# its file before (Wine's StopServices does not wait for the stop, and a running
# executable's file stays behind). Each step waits for that first.
wait_for_no_server() {
  for _ in $(seq 1 30); do [ -n "$(server_processes)" ] || return 0; sleep 1; done
  fail "ZelkAdmin.exe still runs"
}
wait_for_no_server
