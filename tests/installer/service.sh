#!/bin/bash
# The installed ZelkAdmin service: activation from cold starts it, and its one
# process serves two concurrent clients, whose 5,000 increments each all count;
# one client's protection holds at the other's next call; idle stop and start;
# net stop under a held object; a standard user writes only through it.
. "$(dirname "$0")/msi_test_lib.sh"
[ "$(service_state)" = STOPPED ] || fail "the service is $(service_state) before any client"
before=$(total_popups)
js_client first.out '5000*IncrementTotalPopups(1)' & js_client second.out '5000*IncrementTotalPopups(1)' &
wait_service RUNNING
expect_service_process
wait
[ "$(total_popups)" = "$(printf '0x%x' $((before + 10000)))" ] || fail "TotalPopups $(total_popups)"

# Idle: the service stops itself, with exit code 0; the next client starts it.
wait_service STOPPED
win sc query ZelkAdmin | grep -q 'WIN32_EXIT_CODE *: 0 ' || fail "$(win sc query ZelkAdmin)"
site=http://shared.example.test/
js_client list.out "IsUrlProtected('$site')" 'wait(4)' "IsUrlProtected('$site')" &
wait_output list.out
js_client protect.out "ProtectSite('$site')" || fail "$(output protect.out)"
wait
expect_output list.out "$(printf 'IsUrlProtected=0\nIsUrlProtected=2')"

# net stop while a client holds the object: the service stops (revoke, then
# exit) and the client's next call finds no server (RPC_S_SERVER_UNAVAILABLE).
wait_service STOPPED
js_client net_stop.out TotalPopups 'wait(6)' TotalPopups &
wait_output net_stop.out
win net stop ZelkAdmin >/dev/null || fail "net stop ended with $?"
wait_service STOPPED
wait || true
expect_output net_stop.out "$(printf 'TotalPopups=%d\nTotalPopups failed=0x800706BA' "$(total_popups)")"

# A standard user (Administrators deny-only) may not write the settings key,
# whose access list /RegService set in this wineserver session. Wine keeps no
# access lists on folders: the write into the log folder succeeds (pinned).
if standard_user reg add 'HKLM\Software\Zelk' /v Probe /d x /f >/dev/null 2>&1; then fail "reg add"; fi
standard_user cmd /c 'echo x>C:\ProgramData\Zelk\probe.txt' || fail "Wine refused the folder write"
# Through the server it can do everything the browser needs.
url=http://user.example.test/
as_user=1 js_client user.out 'IncrementTotalPopups(1)' \
  "LogPopUrl('http://ads.example.test/user.html','$url')" "ProtectSite('$url')" \
  "IsUrlProtected('$url')" "UnprotectUrl('$url')" "IsUrlProtected('$url')" PlaySound=false \
  'ClearLogs()' || fail "$(output user.out)"
expect_output user.out "$(printf 'IsUrlProtected=2\nIsUrlProtected=0')"
for command in 'log show' status; do
  standard_user "$server\\..\\zelkctl.exe" $command >"$WINEPREFIX/zelkctl.out" ||
    fail "zelkctl $command ended with $?"
done
tr -d '\r' <"$WINEPREFIX/zelkctl.out" | grep -qx 'Server *service ZelkAdmin (running)' ||
  fail "zelkctl status: $(cat "$WINEPREFIX/zelkctl.out")"
