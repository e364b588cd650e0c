#!/bin/bash
# Removal, of the product or of its one feature, takes the files, the service
# and every registration (so the class cannot be created), deletes the log
# file and nothing else: the settings, the safe list and the settings key's
# access list stay. It never runs /RegService. A server whose /UnregServer
# fails (here reg.exe, which refuses the switch) does not stop a removal; its
# registration stays behind.
. "$(dirname "$0")/msi_test_lib.sh"
package=$(windows_path "$ZELK_MSI_NEW")
count=$(total_popups)
removes_all() {
  [ -e "$install_dir" ] || msi reinstall 0 /i "$package"
  js_client log.out LogPopup=true "LogPopUrl('http://ads.example.test/gone.html','http://example.test/')"
  [ -f "$log_file" ] || fail "no log to delete"
  wait_for_no_server
  msi "$@"
  expect_nothing_installed
  ! grep -aq 'Action start [^ ]*: RegisterServer\.' "$ZELK_MSI_PREFIX/$1.log" || fail "$1 ran /RegService"
  [ ! -e "$log_file" ] && [ -d "$(dirname "$log_file")" ] || fail "$1: the log file stayed or its folder went"
}
removes_all removal 0 /x "$package"
removes_all feature_removal 0 /i "$package" REMOVE=Server
[ "$(total_popups)" = "$count" ] || fail "the settings are gone"
win reg query 'HKLM\Software\Zelk\SafeList' /s | grep -q kept || fail "the safe list is gone"
if standard_user reg add 'HKLM\Software\Zelk' /v Probe /d x /f >/dev/null 2>&1; then fail "no access list"; fi

msi reinstall 0 /i "$package"
cp "$WINEPREFIX/drive_c/windows/system32/reg.exe" "$install_dir/ZelkAdmin.exe"
msi damaged_removal 0 /x "$package"
[ ! -e "$install_dir" ] || fail "$install_dir is still there"
expect_installed ""
# What stayed behind goes by hand, which also shows that it stayed.
for key in "${registration_keys[@]}"; do win reg delete "$key" /f >/dev/null 2>&1 || fail "no $key left"; done
