#!/bin/bash
# Removal takes the files and every registration (so the class cannot be
# created), and keeps the settings.
. "$(dirname "$0")/msi_test_lib.sh"
msi removal 0 /x "$(windows_path "$ZELK_MSI_NEW")"
expect_nothing_installed
win reg query 'HKLM\Software\Zelk' /v TotalPopups 2>/dev/null | grep -q 0x7 || fail "the settings are gone"
