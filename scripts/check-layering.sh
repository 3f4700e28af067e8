#!/usr/bin/env bash
# Checks that each folder of the converter includes headers only of the
# folders it may depend on: logging, then model, then table (and grids, on
# logging alone), then readers, process and writer side by side, then app on
# top.
set -euo pipefail
root=${1:-.}
declare -A allowed=(
  [logging]=""
  [model]="logging"
  [table]="logging model"
  [grids]="logging"
  [readers]="logging model table grids"
  [process]="logging model table cumulex"
  [writer]="logging model table"
  [app]="logging model table grids readers process writer"
)
status=0
for folder in "${!allowed[@]}"; do
  while IFS=: read -r file included; do
    target=${included%%/*}
    [[ "$target" == "$folder" ]] && continue
    if [[ " ${allowed[$folder]} " != *" $target "* ]]; then
      echo "$file includes $included: $folder may not depend on $target"
      status=1
    fi
  done < <(grep -ro --include='*.cpp' --include='*.h' '#include "[a-z]*/[^"]*"' "$root/$folder" |
           sed -E 's|^'"$root"'/||; s|#include "([^"]*)"|\1|')
done
exit $status
