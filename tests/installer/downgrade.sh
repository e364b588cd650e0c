#!/bin/bash
# 1.0.0 over 1.0.1 is refused; 1.0.1 stays installed and working.
. "$(dirname "$0")/msi_test_lib.sh"
msi downgrade failure /i "$(windows_path "$ZELK_MSI_OLD")"
expect_installed 1.0.1
expect_seeded_server
