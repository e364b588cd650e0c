#!/bin/bash
# sequence.sh PACKAGE: the registration and service actions sit where they
# must in the built InstallExecuteSequence (wixl places Before/After actions
# unreliably) with their conditions, and carry the custom action types they must.
set -euo pipefail
sequence=$(msiinfo export "$1" InstallExecuteSequence | tr -d '\r')
types=$(msiinfo export "$1" CustomAction | tr -d '\r')
status=0
column() { awk -F'\t' -v a="$2" -v c="$1" '$1 == a {print $c}' <<<"${3:-$sequence}"; }

# 3090 = exe from an installed file (18), deferred (0x400), not impersonated
# (0x800); 3154 adds an ignored exit code (0x40), 3410 also rollback (0x100);
# 3394 is the same with the exe from the Binary table (2).
# action|the action it must follow|the one it must precede|its condition|its type
while IFS='|' read -r action after before condition type; do
  seq=$(column 3 "$action") first=$(column 3 "$after") last=$(column 3 "$before")
  if [ -z "$seq" ] || [ -z "$first" ] || [ -z "$last" ] || [ "$seq" -le "$first" ] ||
     [ "$seq" -ge "$last" ] || [ "$(column 2 "$action")" != "$condition" ]; then
    echo "FAIL: $action must come after $after and before $before if '$condition';" \
         "built: $(column 0 "$action")"
    status=1
  fi
  built=$(column 2 "$action" "$types")
  [ "$built" = "$type" ] || { echo "FAIL: $action has type '$built', not '$type'"; status=1; }
done <<'TABLE'
UnregisterServerRollback|InstallInitialize|UnregisterServer|$ServerComponent=2 AND NOT UPGRADINGPRODUCTCODE|3410
UnregisterServer|UnregisterServerRollback|RemoveFiles|$ServerComponent=2 AND NOT UPGRADINGPRODUCTCODE|3154
StopServices|InstallInitialize|DeleteServices|VersionNT|
DeleteServices|StopServices|UnregisterServerRollback|VersionNT|
InstallServices|InstallFiles|RegisterServerRollback|VersionNT|
RegisterServerRollback|InstallServices|RegisterServer|NOT Installed AND NOT WIX_UPGRADE_DETECTED|3394
RegisterServer|RegisterServerRollback|InstallExecute|$ServerComponent=3|3090
RemoveExistingProducts|InstallExecute|RegisterProduct||
TABLE
exit $status
