#!/usr/bin/env bash
# Every program under bench/ and tools/ answers --help with its usage on
# standard output (exit 0), and a bad argument with one line on standard error
# and a failing status (2 unless the program documents another).
#   command_lines.sh SOURCE_DIR PROGRAM...
set -uo pipefail
src=$1; shift
programs=("$@")
for f in "$src"/tools/*.sh "$src"/tools/main/*.sh; do programs+=("bash $f"); done
programs+=("/usr/bin/python3 $src/tools/catalogue/make_catalogue.py" "/usr/bin/python3 $src/bench/python/round_trips.py"
          "/usr/bin/python3 $src/bench/python/gem_event_reports.py")
failed=0
for p in "${programs[@]}"; do
  name=$(basename "${p##* }")
  out=$($p --help 2>/dev/null); status=$?
  if [ $status -ne 0 ] || [ -z "$out" ]; then
    echo "FAIL $name --help: status $status, output: ${out:0:80}"; failed=1
  fi
  err=$($p --no-such-option 2>&1 >/dev/null); status=$?
  want=2
  [ "$name" = tarvo-regsvr ] && want=1
  lines=$(printf '%s\n' "$err" | grep -c .)
  if [ $status -ne $want ] || [ "$lines" -ne 1 ]; then
    echo "FAIL $name --no-such-option: status $status (want $want), $lines lines: $err"; failed=1
  fi
done
[ $failed -eq 0 ] && echo "all ${#programs[@]} programs answer --help and refuse a bad argument"
exit $failed
