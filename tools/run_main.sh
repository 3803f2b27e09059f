#!/usr/bin/env bash
# The main job: build and run the benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVO_BENCHMARKS=ON >/dev/null
cmake --build build/plain -j "$(nproc)"
for b in $(find build/plain/bench -maxdepth 2 -type f -executable -name 'bench_*' | sort); do
  echo "== $(basename "$b")"
  "$b" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
done
