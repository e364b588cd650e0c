#!/bin/bash
# 1.0.0 over 1.0.1 is refused; 1.0.1 stays installed and working.
. "$(dirname "$0")/msi_test_lib.sh"
wait_for_server_exit
msi downgrade failure /i "$(windows_path "$ZELK_MSI_OLD")"
[ "$(installed_versions)" = 1.0.1 ] || fail "Programs and Features: $(installed_versions)"
expect_seeded_server
