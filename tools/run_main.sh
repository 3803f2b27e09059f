#!/usr/bin/env bash
# The main job: builds Tarvo, registers the driver component into a
# registration store under the build folder, and runs a real HSMS exchange on
# this machine between two tarvosh processes on 127.0.0.1: an equipment
# (passive) that answers S1F13W with S1F14 and S1F1W with S1F2, and a host
# (active) that selects, sends both, reads the replies element by element and
# as SML, and closes; then the same over SECS-I between a master and a slave
# on the two ends of a pseudo-terminal pair (S1F1W/S1F2 and a multi-block
# S6F11W/S6F12). Then it runs the benchmarks, many driver objects in one
# process with small numbers, and SECS-I round trips over a pty pair.
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0;; -?*) echo "${0##*/}: unknown option '$1' (see --help)" >&2; exit 2;; esac
[ $# -eq 0 ] || { echo "run_main.sh: takes no arguments (see --help)" >&2; exit 2; }
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/plain
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

export TARVO_REGISTRY="$PWD/$build/registry"
"$build/tools/regtool/tarvo-regsvr" "$build/driver/component/libTarvoSrv1.so"

echo
echo "== HSMS exchange between two tarvosh processes (registry: $TARVO_REGISTRY)"
# The driver log (Tarvo.log) goes to the folder the exchange runs in.
mkdir -p "$build/exchange"
(cd "$build/exchange" &&
  bash ../../../tools/main/exchange.sh "../tools/tarvosh/tarvosh" \
    ../../../tools/main/equipment.tsh ../../../tools/main/host.tsh)

echo
echo "== SECS-I exchange between two tarvosh processes on a pty pair (socat)"
(cd "$build/exchange" &&
  bash ../../../tools/main/secs1_exchange.sh "../tools/tarvosh/tarvosh" \
    ../../../tools/main/secs1_equipment.tsh ../../../tools/main/secs1_host.tsh)

echo
echo "== the same SECS-I exchange over loopback TCP (tcp-listen: and tcp: ports)"
(cd "$build/exchange" &&
  SECS1_TRANSPORT=tcp bash ../../../tools/main/secs1_exchange.sh "../tools/tarvosh/tarvosh" \
    ../../../tools/main/secs1_equipment.tsh ../../../tools/main/secs1_host.tsh)

echo
echo "== GEM: tarvo-gem against a tarvosh host over loopback HSMS"
(cd "$build/exchange" &&
  bash ../../../tools/main/gem_exchange.sh ../tools/gem/tarvo-gem ../tools/tarvosh/tarvosh)

cd "$build/exchange"  # the benchmarks' driver logs go here too
for b in $(find ../bench -maxdepth 2 -type f -executable -name 'bench_*' | sort); do
  echo "== $(basename "$b")"
  "$b" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
done

# Many tools in one process, with small N here; run it by hand with larger N
# (see README, "Many tools in one process").
echo "== many_pairs"
../bench/component/many_pairs --idle-seconds 3 --run-seconds 1 1 10

echo "== serial_round_trip"
../bench/component/serial_round_trip 1000 5
../bench/component/serial_round_trip --tcp 1000 5

echo "== the client receiving a 16 MiB message (large_message)"
if [ -x ../bench/client/large_message ]; then ../bench/client/large_message; else echo "(the client is not built)"; fi

echo "== Python round trips (bench/python/round_trips.py)"
PYTHONPATH="$PWD/../python" /usr/bin/python3 ../../../bench/python/round_trips.py 3 ../bench/component/many_pairs \
  || echo "(the Python module is not built)"

echo "== Python GEM event reports (bench/python/gem_event_reports.py)"
PYTHONPATH="$PWD/../python" /usr/bin/python3 ../../../bench/python/gem_event_reports.py 3 \
  || echo "(the Python module is not built)"

# The example client, offscreen: sends S1F1W to a tarvosh equipment and
# renders what the user sees.
cd ../../..
if [ -x "$build/client/TarvoClient2" ]; then
  echo "== TarvoClient2"
  bash tools/screenshot.sh "$build/exchange/client.png" "$build" 2>&1 | grep -v propagateSizeHints
fi
