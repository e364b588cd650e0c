#!/bin/bash
# 1.0.1 (a rebuild) over 1.0.0 in one call, then 1.0.1 over its rebuild (the
# same version, another ProductCode): one entry left each time, the count, the
# safe list and the log kept.
. "$(dirname "$0")/msi_test_lib.sh"
for package in "$ZELK_MSI_REBUILT" "$ZELK_MSI_NEW"; do
  msi upgrade 0 /i "$(windows_path "$package")"
  expect_installed 1.0.1
done
expect_seeded_server
