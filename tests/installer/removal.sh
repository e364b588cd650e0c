#!/bin/bash
# Removal, of the product or of its one feature, takes the files and every
# registration (so the class cannot be created), keeps the settings, and never
# runs /RegServer. A server whose /UnregServer fails (here reg.exe, which
# refuses the switch) does not stop a removal; its registration stays behind.
. "$(dirname "$0")/msi_test_lib.sh"
package=$(windows_path "$ZELK_MSI_NEW")
removes_all() {
  [ -e "$install_dir" ] || msi reinstall 0 /i "$package"
  msi "$@"
  expect_nothing_installed
  ! grep -aq 'Action start [^ ]*: RegisterServer\.' "$ZELK_MSI_PREFIX/$1.log" || fail "$1 ran /RegServer"
}
removes_all removal 0 /x "$package"
removes_all feature_removal 0 /i "$package" REMOVE=Server
win reg query 'HKLM\Software\Zelk' /v TotalPopups 2>/dev/null | grep -q 0x7 || fail "the settings are gone"

msi reinstall 0 /i "$package"
cp "$WINEPREFIX/drive_c/windows/system32/reg.exe" "$install_dir/ZelkAdmin.exe"
msi damaged_removal 0 /x "$package"
[ ! -e "$install_dir" ] || fail "$install_dir is still there"
expect_installed ""
# What stayed behind goes by hand, which also shows that it stayed.
for key in "${registration_keys[@]}"; do win reg delete "$key" /f >/dev/null 2>&1 || fail "no $key left"; done
