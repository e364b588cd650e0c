#!/bin/bash
# A quiet per-machine install, then a client of the installed server, which
# leaves data for the upgrade to keep.
. "$(dirname "$0")/msi_test_lib.sh"
msi install 0 /i "$(windows_path "$ZELK_MSI_OLD")"
[ -f "$install_dir/ZelkAdmin.exe" ] && [ -f "$install_dir/zelkctl.exe" ] || fail "files not installed"
expect_seeded_server seed
expect_installed 1.0.0
entry=$(win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r')
grep -Eq 'Publisher +REG_SZ +Zelk$' <<<"$entry" || fail "no publisher Zelk"
grep -Eq 'NoModify +REG_DWORD +0x1$' <<<"$entry" || fail "the entry offers Modify"
