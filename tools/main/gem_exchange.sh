#!/usr/bin/env bash
# Runs tarvo-gem against a scripted host (tarvosh) over HSMS on 127.0.0.1:
#   gem_exchange.sh TARVO_GEM TARVOSH [PORT]
# The driver must be registered where TARVO_REGISTRY points (or in the
# default store). The equipment starts first; once the host has enabled its
# report, the equipment's operator sets WaferId and raises WaferDone; once the
# host's START was refused for a bad parameter, the operator switches to
# ON-LINE LOCAL and back after the next START is refused; once the host has
# deleted its process program, the operator sets and clears an alarm, sends
# a terminal text and finishes the host's START.
# Prints both sides' output and checks the lines that show each step; the
# exit status is 0 when every step was seen.
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0;; -?*) echo "${0##*/}: unknown option '$1' (see --help)" >&2; exit 2;; esac
set -uo pipefail
[ $# -ge 2 ] && [ $# -le 3 ] || { echo "gem_exchange.sh: needs TARVO_GEM TARVOSH [PORT] (see --help)" >&2; exit 2; }
tarvo_gem=$1 tarvosh=$2 port=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "$port" ]; then
  source "$here/../lib/pick_port.bash"
  port=$(pick_port)
fi
work=$(mktemp -d)
equipment_pid=
trap 'exec 3>&- 2>/dev/null; [ -n "$equipment_pid" ] && kill "$equipment_pid" 2>/dev/null; rm -rf "$work"' EXIT

cat > "$work/equipment.toml" <<TOML
[equipment]
mdln = "TARVO-EQ"
softrev = "1.0.0"
state_file = "equipment.state"

[line]
type = "hsms"
mode = "passive"
host = "127.0.0.1"
port = $port
t3 = 5000

[control]
initial = "host_offline"

[[variable]]
id = 1001
name = "ChamberTemp"
kind = "sv"
format = "F4"
units = "degC"
value = 21.5

[[variable]]
id = 3001
name = "WaferId"
kind = "dv"
format = "A"
value = ""

[[event]]
id = 4001
name = "WaferDone"
variables = [3001, 1001]

[[alarm]]
id = 5001
name = "OverTemp"
text = "Chamber over temperature"
category = 2
set_event = 4101
clear_event = 4102

[[event]]
id = 4101
name = "OverTempSet"

[[event]]
id = 4102
name = "OverTempCleared"

[[command]]
name = "START"
parameters = ["LOT", "RECIPE"]
hcack = 4
finished_event = 4201

[[event]]
id = 4201
name = "StartFinished"
TOML
sed "s/@PORT@/$port/g" "$here/gem_host.tsh" > "$work/host.tsh"

# Waits (at most $2 tenths of a second) for a line of the equipment's output.
seen() { grep -qF -- "$1" "$work/equipment.out" 2>/dev/null; }
wait_for() {
  for _ in $(seq "$2"); do seen "$1" && return 0; sleep 0.1; done
  return 1
}

mkfifo "$work/commands"
"$tarvo_gem" equipment "$work/equipment.toml" < "$work/commands" > "$work/equipment.out" 2>&1 &
equipment_pid=$!
# Read-write, so opening it never waits for a reader that may have died.
exec 3<> "$work/commands"
wait_for "state comm" 50
"$tarvosh" "$work/host.tsh" > "$work/host.out" 2>&1 &
host_pid=$!
if wait_for "sent S2F38 <B 0x00>" 150; then
  echo "set 3001 W-17" >&3
  echo "event 4001" >&3
fi
wait_for "sent S2F42 <L <B 0x03>" 150 && echo "control local" >&3
wait_for "sent S2F42 <L <B 0x02> <L>>" 150 && echo "control remote" >&3
if wait_for "sent S7F18" 150; then
  echo "alarm set 5001" >&3
  echo "alarm clear 5001" >&3
  echo "terminal Don't stop" >&3
  echo "finish START" >&3
fi
wait "$host_pid"
host_status=$?
echo "quit" >&3
exec 3>&-
wait "$equipment_pid"
equipment_status=$?
equipment_pid=

echo "== equipment (tarvo-gem, passive, port $port)"
cat "$work/equipment.out"
echo "== host (tarvosh, active, 127.0.0.1:$port)"
cat "$work/host.out"

missing=0
for line in "received S1F14 <L <B 0x00> <L>>" "state comm COMMUNICATING" "sent S1F18 <B 0x00>" \
            "state control ONLINE_REMOTE" "<U4 104> <L>>" "sent S2F34 <B 0x00>" "sent S2F36 <B 0x00>" \
            "sent S2F38 <B 0x00>" "<U4 4001> <L <L <U4 7> <L <A 'W-17'> <F4 21.5>>>>>" "received S6F12 <B 0x00>" \
            "sent S1F4 <L <F4 21.5> <U1 5>>" \
            "command START LOT=<A 'L-1'>" "sent S2F42 <L <B 0x04> <L>>" "sent S2F42 <L <B 0x01> <L>>" \
            "sent S2F42 <L <B 0x03> <L <L <A 'SPEED'> <B 0x01>>>>" "state control ONLINE_LOCAL" \
            "sent S2F42 <L <B 0x02> <L>>" "<U4 103> <L>>" \
            "terminal 1 Hello from the host" "sent S10F4 <B 0x00>" \
            "program stored RECIPE-1 3" "sent S7F20 <L <A 'RECIPE-1'>>" "sent S7F6 <L <A 'RECIPE-1'> <B 0x01 0x02 0x03>>" \
            "sent S7F4 <B 0x01>" "program deleted RECIPE-1" \
            "sent S5F1W <L <B 0x82> <U4 5001> <A 'Chamber over temperature'>>" "<U4 4101> <L>>" \
            "sent S5F1W <L <B 0x02> <U4 5001> <A 'Chamber over temperature'>>" "<U4 4102> <L>>" \
            "sent S10F1W <L <B 0x00> <A 'Don' 0x27 't stop'>>" "received S10F2 <B 0x00>" "<U4 4201> <L>>"; do
  seen "$line" || { echo "== missing from the equipment's output: $line"; missing=1; }
done
grep -q "<A 'W-17'>" "$work/host.out" || { echo "== the host did not read the event report"; missing=1; }
# The clock in its three formats: A12, A16 and extended.
for shape in "<A '[0-9]\{12\}'>" "<A '[0-9]\{16\}'>" "<A '[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]T"; do
  grep -q "sent S2F18 $shape" "$work/equipment.out" || { echo "== no S2F18 like $shape"; missing=1; }
done
[ -e "$work/escape" ] && { echo "== a PPID left the program folder"; missing=1; }
echo "== equipment exit status $equipment_status, host exit status $host_status"
[ "$equipment_status" -ne 0 ] && exit "$equipment_status"
[ "$host_status" -ne 0 ] && exit "$host_status"
exit $missing
