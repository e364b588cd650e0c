#!/bin/bash
# The server hosted in the ZelkAdmin service, in a Wine prefix of its own made
# afresh (build/<arch>/serviceprefix): /RegService with the service installed,
# activation through the service, one server for concurrent clients, the idle
# stop and the next start, net stop under a client, and the clean-up.
#   service.sh WINE_RUN ZELKADMIN_EXE
set -euo pipefail
eval "$(sed -n 's/^export //p' "$1")"
export WINEPREFIX=$(dirname "$1")/serviceprefix WINEARCH WINEDEBUG=-all WINEDLLOVERRIDES
[ "$ZELK_WINE" = wine ] || export WINELOADER=$ZELK_WINE
readonly client_js="Z:$(cd "$(dirname "$0")" && pwd | tr / '\\')\\client.js"
readonly app_id='HKCR\AppID\{324BEFAA-7245-4174-9D20-261A99027712}'
win() { "$ZELK_WINE" "$@" </dev/null; }
fail() { echo "FAIL: $*" >&2; exit 1; }
stop_prefix() { wineserver -k </dev/null >/dev/null 2>&1 || true; }
trap stop_prefix EXIT

# Service processes need a persistent wineserver; Wine's background
# processes get no stream of this script's.
stop_prefix
rm -rf "$WINEPREFIX"
win wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1
win cmd /c exit >/dev/null 2>&1
mkdir -p "$WINEPREFIX/drive_c/Program Files/Zelk"
cp "$2" "$WINEPREFIX/drive_c/Program Files/Zelk/ZelkAdmin.exe"
readonly server='C:\Program Files\Zelk\ZelkAdmin.exe'

state() { win sc query ZelkAdmin 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" {print $4}'; }
wait_state() {
  for _ in $(seq 1 20); do [ "$(state)" = "$1" ] && return 0; sleep 1; done
  fail "the service is $(state), not $1"
}
# Command lines of this prefix's ZelkAdmin.exe processes.
server_processes() {
  local pid
  for pid in $(pgrep -f 'ZelkAdmin\.exe' || true); do
    grep -qzx "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null &&
      tr '\0' ' ' <"/proc/$pid/cmdline" | sed 's/ *$//' && echo
  done
}
# client SECONDS OUTPUT: in the background; see client.js.
client() { win cscript //nologo "$client_js" "$1" 2>&1 | tr -d '\r' >"$WINEPREFIX/$2" & }
total_popups() { win reg query 'HKLM\Software\Zelk' /v TotalPopups 2>/dev/null; }
expect_output() { [ "$(cat "$WINEPREFIX/$1")" = "$2" ] || fail "client $1: $(cat "$WINEPREFIX/$1"), expected $2"; }

win sc create ZelkAdmin binPath= "\"$server\" -Service" obj= 'NT AUTHORITY\LocalService' >/dev/null ||
  fail "sc create"
win "$server" /RegService >/dev/null 2>&1 || fail "/RegService ended with $?"
win reg query "$app_id" /v LocalService | grep -q 'REG_SZ *ZelkAdmin' || fail "no LocalService"
win reg query 'HKLM\Software\Zelk' /v LogFile | grep -qF 'C:\ProgramData\Zelk\Zelk.log' ||
  fail "LogFile: $(win reg query 'HKLM\Software\Zelk' /v LogFile)"
[ -d "$WINEPREFIX/drive_c/ProgramData/Zelk" ] || fail "no log folder"
[ "$(state)" = STOPPED ] || fail "the service runs before any client"

# Two clients from cold: the service starts, and its one process serves both
# (each counts one pop-up and then reads both counts).
client 4 first.out
client 4 second.out
wait_state RUNNING
sleep 1
[ "$(server_processes)" = "$server -Service" ] || fail "server processes: $(server_processes)"
wait
for out in first second; do expect_output $out.out TotalPopups=2; done

# Idle: the service stops itself, with exit code 0; the next client starts it.
wait_state STOPPED
win sc query ZelkAdmin | grep -q 'WIN32_EXIT_CODE *: 0 ' || fail "$(win sc query ZelkAdmin)"
client 0 third.out
wait
expect_output third.out TotalPopups=3

# net stop while a client holds the object: the service stops (revoke, then
# exit) and the client's next call finds no server (RPC_S_SERVER_UNAVAILABLE).
wait_state STOPPED
client 6 held.out
# RUNNING comes with the class object; the client holds the object once it
# has counted its pop-up.
for _ in $(seq 1 20); do total_popups | grep -q 0x4 && break; sleep 1; done
win net stop ZelkAdmin >/dev/null || fail "net stop ended with $?"
wait_state STOPPED
wait
expect_output held.out failed=0x800706BA

# Unregistration removes the AppID with its service values and the log,
# keeps the settings; then the service can be deleted.
win "$server" /UnregServer >/dev/null 2>&1 || fail "/UnregServer ended with $?"
if win reg query "$app_id" >/dev/null 2>&1; then fail "the AppID is still registered"; fi
total_popups | grep -q 0x4 || fail "the settings are gone"
win sc delete ZelkAdmin >/dev/null || fail "sc delete ended with $?"
if win sc query ZelkAdmin >/dev/null 2>&1; then fail "the service is still there"; fi
echo "service test passed"
