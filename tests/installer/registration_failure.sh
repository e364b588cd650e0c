#!/bin/bash
# A settings key that refuses writes makes /RegServer fail: the install fails
# and is rolled back completely.
. "$(dirname "$0")/msi_test_lib.sh"
key_dacl() { win "$ZELK_BIN_DIR/key_dacl.exe" "$1" || fail "key_dacl $1 ended with $?"; }
key_dacl 'D:P(A;;0x60019;;;WD)'  # read, and give the access list back
trap "key_dacl 'D:P(A;;KA;;;WD)'" EXIT
msi registration_failure failure /i "$(windows_path "$ZELK_MSI_OLD")"
expect_nothing_installed
