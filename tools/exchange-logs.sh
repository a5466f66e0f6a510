#!/usr/bin/env bash
# Writes the emulator's exchange log of each device job into OUT (one file a job), so that two
# builds can be compared byte for byte:
#   tools/exchange-logs.sh build/cli/talmo-cli /tmp/logs-after
#   diff -r /tmp/logs-before /tmp/logs-after
set -euo pipefail
cli=$(realpath "$1"); out=$2
mkdir -p "$out"; out=$(realpath "$out")
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cd "$work"

job() { # name folder args...
  local name=$1 dir=$2; shift 2
  rm -f "$dir/exchanges.log"
  "$cli" --simulate "$dir" "$@" </dev/null >/dev/null 2>&1 || echo "exit $? for $name" >>"$out/exits"
  cp "$dir/exchanges.log" "$out/$name.log"
}

for chip in PIC16F877A PIC16F873; do
  "$cli" --simulate "$chip" --sim-pic "$chip" status >/dev/null 2>&1 || true
  job "$chip-identify" "$chip" pic identify
  job "$chip-read" "$chip" pic read "$chip-read.hex"
  cp "$chip-read.hex" "$out/$chip-read.hex"
  job "$chip-program" "$chip" pic program "$chip-read.hex" --yes
done
"$cli" --simulate fw status >/dev/null 2>&1 || true
job firmware-save fw firmware save fw.hex
cp fw.hex "$out/firmware-save.hex"
# Later versions ask before programming and read back afterwards: answer yes, skip the read-back.
extra=()
help=$("$cli" firmware program --help 2>&1 || true)
grep -q -- '--yes' <<<"$help" && extra+=(--yes)
grep -q -- '--no-verify' <<<"$help" && extra+=(--no-verify)
job firmware-program fw firmware program fw.hex "${extra[@]}"
