#!/usr/bin/env bash
# Runs an HSMS exchange between two tarvosh processes on 127.0.0.1:
#   exchange.sh TARVOSH EQUIPMENT.tsh HOST.tsh [PORT]
# The equipment starts first; the host starts once the equipment listens.
# "@PORT@" in the scripts becomes the port (a free one when none is given).
# Prints each side's output under a heading; the exit status is the first
# non-zero status of the two tarvosh runs (0 when both succeeded).
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0;; -?*) echo "${0##*/}: unknown option '$1' (see --help)" >&2; exit 2;; esac
set -uo pipefail
[ $# -ge 3 ] && [ $# -le 4 ] || { echo "exchange.sh: needs TARVOSH EQUIPMENT.tsh HOST.tsh [PORT] (see --help)" >&2; exit 2; }
tarvosh=$1 equipment=$2 host=$3 port=${4:-}
if [ -z "$port" ]; then
  source "$(dirname "$0")/../lib/pick_port.bash"
  port=$(pick_port)
fi
work=$(mktemp -d)
trap 'kill "$equipment_pid" 2>/dev/null; rm -rf "$work"' EXIT
sed "s/@PORT@/$port/g" "$equipment" > "$work/equipment.tsh"
sed "s/@PORT@/$port/g" "$host" > "$work/host.tsh"

"$tarvosh" "$work/equipment.tsh" > "$work/equipment.out" 2>&1 &
equipment_pid=$!
# Wait (at most 5 s) until the equipment's SetActive has answered.
for _ in $(seq 50); do
  grep -q '^SetActive' "$work/equipment.out" 2>/dev/null && break
  kill -0 "$equipment_pid" 2>/dev/null || break
  sleep 0.1
done
"$tarvosh" "$work/host.tsh" > "$work/host.out" 2>&1
host_status=$?
wait "$equipment_pid"
equipment_status=$?
equipment_pid=

echo "== equipment (passive, port $port)"
cat "$work/equipment.out"
echo "== host (active, 127.0.0.1:$port)"
cat "$work/host.out"
echo "== equipment exit status $equipment_status, host exit status $host_status"
[ "$equipment_status" -ne 0 ] && exit "$equipment_status"
exit "$host_status"
