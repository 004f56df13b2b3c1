#!/usr/bin/env bash
# Runs every fuzz target of a build for a bounded number of inputs, seeded from fuzz/corpus/<name>/.
#   bash tools/run-fuzzers.sh BUILD_DIR [RUNS]
set -euo pipefail
build=${1:?usage: run-fuzzers.sh BUILD_DIR [RUNS]}
runs=${2:-20000}
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
found=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target"); name=${name#fuzz_}
  seeds="$root/fuzz/corpus/$name"
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "-- $name: $runs inputs"
  "$target" -runs="$runs" -max_total_time=300 -rss_limit_mb=2048 -print_final_stats=1 "$work" \
    2> "$work.log" || { tail -50 "$work.log"; rm -rf "$work" "$work.log"; exit 1; }
  grep -E '^#[0-9]+.*cov:' "$work.log" | tail -1 || true
  grep -E 'stat::number_of_executed_units' "$work.log" || true
  rm -rf "$work" "$work.log"
  found=$((found + 1))
done
echo "fuzz targets run: $found"
