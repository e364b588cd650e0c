#!/bin/bash
# A quiet per-machine install with its service, then a client of the installed
# server, which leaves data for the upgrade to keep.
. "$(dirname "$0")/msi_test_lib.sh"
msi install 0 /i "$(windows_path "$ZELK_MSI_OLD")"
for file in ZelkAdmin.exe zelkctl.exe PolicyDefinitions/ZelkAdmin.admx PolicyDefinitions/en-US/ZelkAdmin.adml; do
  [ -f "$install_dir/$file" ] || fail "$file not installed"
done
expect_seeded_server seed
expect_installed 1.0.0
entry=$(win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r')
grep -Eq 'Publisher +REG_SZ +Zelk$' <<<"$entry" || fail "no publisher Zelk"
grep -Eq 'NoModify +REG_DWORD +0x1$' <<<"$entry" || fail "the entry offers Modify"
# Wine 8's msiexec writes the service's ImagePath unquoted (Windows Installer
# quotes it), which Wine's service manager starts all the same.
service=$(win reg query 'HKLM\System\CurrentControlSet\Services\ZelkAdmin' | tr -d '\r' | awk 'NF {$1 = $1; print}')
[ "$(grep -cxF -e "ImagePath REG_SZ $server -Service" -e 'Start REG_DWORD 0x3' -e 'Type REG_DWORD 0x10' \
  -e 'ObjectName REG_SZ NT AUTHORITY\LocalService' -e 'DisplayName REG_SZ ZelkAdmin' <<<"$service")" = 5 ] ||
  fail "the service: $service"
