#!/bin/bash
# 1.0.1 over 1.0.0 in one call: one entry left, the count, the safe list and
# the log kept.
. "$(dirname "$0")/msi_test_lib.sh"
msi upgrade 0 /i "$(windows_path "$ZELK_MSI_NEW")"
expect_installed 1.0.1
expect_seeded_server
