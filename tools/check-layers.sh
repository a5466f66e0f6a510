#!/usr/bin/env bash
# Fails when a folder includes from a folder it must not depend on: the layers
# run one way, core < hex < link < sim / ui < console, programmer, updater
# (side by side) < shell, cli, web. Tests, benches and fuzz targets may use anything.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A allowed=(
  [core]="core"
  [hex]="core hex"
  [link]="core link"
  [sim]="core link sim"
  [ui]="core ui"
  [console]="core hex link ui console"
  [programmer]="core hex link ui programmer"
  [updater]="core hex link ui updater"
  [shell]="core hex link sim ui console programmer updater shell"
  [cli]="core hex link sim console programmer updater cli"
  [web]="core hex link sim console programmer updater web"
)
status=0
for dir in "${!allowed[@]}"; do
  while IFS=: read -r file line text; do
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$text")
    if ! grep -qw -- "$target" <<<"${allowed[$dir]}"; then
      echo "$file:$line: $dir/ must not include from $target/"
      status=1
    fi
  done < <(git grep -n -E '^#include "[^"]+/' -- "$dir/*.cpp" "$dir/*.h" || true)
done
[ $status -eq 0 ] && echo "layers: every include runs one way"
exit $status
