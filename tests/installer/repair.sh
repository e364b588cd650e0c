#!/bin/bash
# The property form of repair (Wine's msiexec /f does not repair) restores a
# deleted executable and a deleted class key.
. "$(dirname "$0")/msi_test_lib.sh"
rm "$install_dir/ZelkAdmin.exe"
win reg delete "HKCR\\CLSID\\$class_id" /f >/dev/null 2>&1 || fail "no class key to delete"
msi repair 0 /i "$(windows_path "$ZELK_MSI_NEW")" REINSTALL=ALL REINSTALLMODE=vomus
expect_seeded_server
