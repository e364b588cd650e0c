#!/bin/bash
# 1.0.1 (a rebuild) over 1.0.0 in one call, with the service running under a
# client, then 1.0.1 over its rebuild (the same version, another ProductCode):
# one entry left each time, the count, the safe list, the setting and the log
# kept. The upgrade stops the service (the held object's next call finds no
# server, pinned) and the next client gets a fresh service process.
. "$(dirname "$0")/msi_test_lib.sh"
js_client upgrade.out TotalPopups 'wait(8)' TotalPopups &
wait_output upgrade.out
running=$(server_processes)
for package in "$ZELK_MSI_REBUILT" "$ZELK_MSI_NEW"; do
  msi upgrade 0 /i "$(windows_path "$package")"
  expect_installed 1.0.1
done
wait || true
expect_output upgrade.out "$(printf 'TotalPopups=7\nTotalPopups failed=0x800706BA')"
expect_seeded_server
expect_service_process
[ "$(server_processes)" != "$running" ] || fail "the service process from before the upgrade still serves"
