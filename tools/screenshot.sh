#!/usr/bin/env bash
# Renders what a user of TarvoClient2 sees, offscreen, to PNG files: the client
# connects over HSMS to a tarvosh equipment on 127.0.0.1, sends S1F1W from its
# catalogue and shows the S1F2 answer in the last-received-message window.
#   tools/screenshot.sh [OUT.png] [BUILD]   (default docs/client.png, build/plain)
# Writes OUT.png (the main window) and OUT.received.png (the answer as SML).
case "${1:-}" in -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0;; -?*) echo "${0##*/}: unknown option '$1' (see --help)" >&2; exit 2;; esac
set -euo pipefail
[ $# -le 2 ] || { echo "screenshot.sh: at most 2 arguments (see --help)" >&2; exit 2; }
cd "$(dirname "$0")/.."
out=${1:-docs/client.png}
build=${2:-build/plain}
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
work=$(mktemp -d)
trap 'kill $equipment_pid 2>/dev/null || true; rm -rf "$work"' EXIT
export TARVO_REGISTRY="$work/registry" QT_QPA_PLATFORM=offscreen
"$build/tools/regtool/tarvo-regsvr" /s "$build/driver/component/libTarvoSrv1.so"
source tools/lib/pick_port.bash
port=$(pick_port)
sed "s/@PORT@/$port/" tools/screenshot/equipment.tsh > "$work/equipment.tsh"
(cd "$work" && exec "$OLDPWD/$build/tools/tarvosh/tarvosh" equipment.tsh > equipment.out 2>&1) &
equipment_pid=$!
for _ in $(seq 50); do grep -q '^SetActive' "$work/equipment.out" 2>/dev/null && break; sleep 0.1; done
client=$(cd "$build/client" && pwd)/TarvoClient2
(cd "$work" && "$client" --line-type 37 --mode 2 --host 127.0.0.1 --port "$port" --start --send S1F1W \
   --full sml --screenshot "$out")
wait $equipment_pid || true
echo "wrote $out and ${out%.png}.received.png"
