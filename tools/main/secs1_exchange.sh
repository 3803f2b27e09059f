#!/usr/bin/env bash
# Runs a SECS-I exchange between two tarvosh processes on the two ends of a
# pseudo-terminal pair that socat makes (a null-modem cable in software), or
# with SECS1_TRANSPORT=tcp over loopback TCP (the equipment listens, the host
# connects, as to a terminal server):
#   [SECS1_TRANSPORT=tcp] secs1_exchange.sh TARVOSH EQUIPMENT.tsh HOST.tsh
# The two ends become ports 1 (equipment) and 2 (host) through a ports file
# (TARVO_PORTS); "@EQUIPMENT_PORT@" and "@HOST_PORT@" in the scripts become
# those numbers. Prints each side's output under a heading; the exit status
# is the first non-zero status of the two tarvosh runs.
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0;; -?*) echo "${0##*/}: unknown option '$1' (see --help)" >&2; exit 2;; esac
set -uo pipefail
[ $# -eq 3 ] || { echo "secs1_exchange.sh: needs TARVOSH EQUIPMENT.tsh HOST.tsh (see --help)" >&2; exit 2; }
tarvosh=$1 equipment=$2 host=$3
transport=${SECS1_TRANSPORT:-pty}
work=$(mktemp -d)
socat_pid= equipment_pid=
trap 'kill $equipment_pid $socat_pid 2>/dev/null; rm -rf "$work"' EXIT
if [ "$transport" = tcp ]; then
  source "$(dirname "$0")/../lib/pick_port.bash"
  tcp_port=$(pick_port)
  printf '1 tcp-listen:127.0.0.1:%s\n2 tcp:127.0.0.1:%s\n' "$tcp_port" "$tcp_port" > "$work/ports"
  equipment_end="tcp-listen:127.0.0.1:$tcp_port" host_end="tcp:127.0.0.1:$tcp_port"
else
  command -v socat >/dev/null || { echo "socat is needed (apt-get install socat)"; exit 1; }
  socat -d -d "pty,raw,echo=0,link=$work/equipment-end" "pty,raw,echo=0,link=$work/host-end" \
    2> "$work/socat.log" &
  socat_pid=$!
  for _ in $(seq 50); do
    [ -e "$work/equipment-end" ] && [ -e "$work/host-end" ] && break
    sleep 0.1
  done
  printf '1 %s\n2 %s\n' "$work/equipment-end" "$work/host-end" > "$work/ports"
  equipment_end=$(readlink "$work/equipment-end") host_end=$(readlink "$work/host-end")
fi
export TARVO_PORTS="$work/ports"
for side in equipment host; do
  sed -e 's/@EQUIPMENT_PORT@/1/g' -e 's/@HOST_PORT@/2/g' "${!side}" > "$work/$side.tsh"
done

"$tarvosh" "$work/equipment.tsh" > "$work/equipment.out" 2>&1 &
equipment_pid=$!
# The host connects once the equipment listens (at most 5 s).
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

echo "== equipment (master, port 1 = $equipment_end)"
cat "$work/equipment.out"
echo "== host (slave, port 2 = $host_end)"
cat "$work/host.out"
echo "== equipment exit status $equipment_status, host exit status $host_status"
[ "$equipment_status" -ne 0 ] && exit "$equipment_status"
exit "$host_status"
