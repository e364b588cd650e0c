#!/bin/bash
# An administrator's session with zelkctl against the registered server:
# status, protect, check, a backup and a restore of the safe list, log,
# export. Run by scripts/run.sh, which sets ZELKCTL (the program) and
# WINE_RUN (the build's Wine launcher).
set -euo pipefail
export_file=${EXPORT_FILE:-$(dirname "$ZELKCTL")/zelk-log.html}
list_file=$(dirname "$ZELKCTL")/zelk-safe-list.txt

zelkctl() {
  echo "\$ zelkctl $*"
  "$WINE_RUN" "$ZELKCTL" "$@" </dev/null
}

zelkctl status
zelkctl protect site http://www.example.test/
zelkctl check http://www.example.test/news/today.html
zelkctl check https://bank.example.test/
zelkctl list
zelkctl list export "Z:${list_file//\//\\}"
echo "backed up the safe list to $list_file"
zelkctl unprotect http://www.example.test/
zelkctl list import --replace "Z:${list_file//\//\\}"
zelkctl list
zelkctl log add "http://ads.example.test/<script>popup</script>" http://www.example.test/
zelkctl log show
zelkctl log export "Z:${export_file//\//\\}"
echo "exported the log page to $export_file"
zelkctl unprotect http://www.example.test/
