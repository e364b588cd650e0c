#!/bin/bash
# sequence.sh PACKAGE: the registration actions sit where they must in the
# built InstallExecuteSequence (wixl places Before/After actions unreliably)
# with their conditions, and carry the custom action types they must.
set -euo pipefail
package=$1
sequence=$(msiinfo export "$package" InstallExecuteSequence | tr -d '\r')
types=$(msiinfo export "$package" CustomAction | tr -d '\r')
status=0
number() { awk -F'\t' -v a="$1" '$1 == a {print $3}' <<<"$sequence"; }

# action, the action it must follow, the one it must precede, its condition
while IFS='|' read -r action after before condition; do
  row=$(awk -F'\t' -v a="$action" '$1 == a' <<<"$sequence")
  seq=$(number "$action") first=$(number "$after") last=$(number "$before")
  if [ -z "$row" ] || [ -z "$first" ] || [ -z "$last" ] || [ "$(cut -f2 <<<"$row")" != "$condition" ] ||
     [ "$seq" -le "$first" ] || [ "$seq" -ge "$last" ]; then
    echo "FAIL: $action must come after $after and before $before if '$condition'; built: ${row:-nothing}"
    status=1
  fi
done <<'TABLE'
UnregisterServerRollback|InstallInitialize|UnregisterServer|$ServerComponent=2 AND NOT UPGRADINGPRODUCTCODE
UnregisterServer|UnregisterServerRollback|RemoveFiles|$ServerComponent=2 AND NOT UPGRADINGPRODUCTCODE
RegisterServerRollback|InstallFiles|RegisterServer|NOT Installed AND NOT WIX_UPGRADE_DETECTED
RegisterServer|RegisterServerRollback|InstallExecute|NOT REMOVE~="ALL"
RemoveExistingProducts|InstallExecute|RegisterProduct|
TABLE

# 3090 = exe from an installed file (18), deferred (0x400), not impersonated
# (0x800); 3410 adds rollback (0x100) and an ignored exit code (0x40); 3394 is
# the same with the exe from the Binary table (2).
while read -r action type; do
  built=$(awk -F'\t' -v a="$action" '$1 == a {print $2}' <<<"$types")
  [ "$built" = "$type" ] || { echo "FAIL: $action has type '$built', not $type"; status=1; }
done <<'TABLE'
UnregisterServerRollback 3410
UnregisterServer 3090
RegisterServerRollback 3394
RegisterServer 3090
TABLE
exit $status
