#!/usr/bin/env bash
# CTest driver for tarvosh scripts against the built component.
#   run_script.sh single TARVOSH REGSVR LIBRARY SCRIPT EXPECTED_STATUS [EXPECTED_LINES]
#   run_script.sh exchange TARVOSH REGSVR LIBRARY EQUIPMENT HOST EXCHANGE_SH EXPECTED_LINES
# Registers the library into a private registration store, runs the script
# (or the two-process exchange), checks the exit status and that every line
# of EXPECTED_LINES appears in the output, in order.
set -uo pipefail
mode=$1 tarvosh=$2 regsvr=$3 library=$4
shift 4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TARVO_REGISTRY="$work/registry"
cd "$work"
"$regsvr" /s "$library" || { echo "registration failed"; exit 1; }

if [ "$mode" = single ]; then
  script=$1 want_status=$2 expected=${3:-}
  "$tarvosh" "$script" > out.txt 2>&1
  status=$?
else
  equipment=$1 host=$2 exchange=$3 expected=$4 want_status=0
  bash "$exchange" "$tarvosh" "$equipment" "$host" > out.txt 2>&1
  status=$?
fi
cat out.txt
if [ "$status" -ne "$want_status" ]; then
  echo "FAIL: exit status $status, expected $want_status"
  exit 1
fi
if [ -n "$expected" ]; then
  # Each expected line must be found after the previous one.
  awk 'BEGIN { n = 0; i = 0 }
       NR == FNR { if (length($0)) want[n++] = $0; next }
       i < n && $0 == want[i] { i++ }
       END { if (i < n) { print "FAIL: missing (in order): " want[i]; exit 1 } }' "$expected" out.txt || exit 1
fi
echo "PASS"
