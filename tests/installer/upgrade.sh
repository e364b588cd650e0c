#!/bin/bash
# 1.0.1 over 1.0.0 in one call: one entry left, the count, the safe list and
# the log kept.
. "$(dirname "$0")/msi_test_lib.sh"
wait_for_server_exit
msi upgrade 0 /i "$(windows_path "$ZELK_MSI_NEW")"
[ "$(installed_versions)" = 1.0.1 ] || fail "Programs and Features: $(installed_versions)"
expect_seeded_server
