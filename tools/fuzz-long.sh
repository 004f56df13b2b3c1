#!/usr/bin/env bash
# Runs every fuzz target of a build for SECONDS each, starting from fuzz/corpus/<name>/, and merges
# the inputs that reach new coverage back into fuzz/corpus/<name>/ (libFuzzer's -merge=1, which
# keeps only what adds coverage). To keep the committed corpus small the merge counts edges only
# (-use_counters=0: an input that merely runs a known edge more often is not kept), and only inputs
# of at most FUZZ_MERGE_MAX_BYTES bytes (default 4096) are offered to it. Prints each target's
# final coverage.
# A crash is kept as fuzz/crash-<name>-* (not merged) and makes the script exit 1 after the
# other targets have run.
#   bash tools/fuzz-long.sh SECONDS [BUILD_DIR]     (BUILD_DIR: build-asan by default)
set -euo pipefail
seconds=${1:?usage: fuzz-long.sh SECONDS [BUILD_DIR]}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build-asan}
case "$seconds" in '' | *[!0-9]*) echo "SECONDS must be a whole number" >&2; exit 2 ;; esac
max_bytes=${FUZZ_MERGE_MAX_BYTES:-4096}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $build/fuzz (configure with -DMERLIG_BUILD_FUZZERS=ON)" >&2; exit 2; }
failed=0
for target in "${targets[@]}"; do
  [ -x "$target" ] || continue
  name=$(basename "$target"); name=${name#fuzz_}
  seeds="$root/fuzz/corpus/$name"
  mkdir -p "$seeds"
  work=$(mktemp -d)
  cp -r "$seeds"/. "$work"/
  before=$(find "$seeds" -type f | wc -l)
  echo "-- $name: ${seconds} s"
  if "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$root/fuzz/crash-$name-" "$work" 2> "$work.log"; then
    # Only small inputs that add coverage to the committed corpus are copied into it.
    mkdir "$work.small"
    find "$work" -maxdepth 1 -type f -size -$((max_bytes + 1))c -exec cp {} "$work.small"/ \;
    "$target" -merge=1 -use_counters=0 -rss_limit_mb=2048 "$seeds" "$work.small" 2> "$work.merge.log" ||
      { tail -20 "$work.merge.log"; failed=1; }
    after=$(find "$seeds" -type f | wc -l)
    grep -E '^#[0-9]+.*(DONE|cov:)' "$work.log" | tail -1 | sed "s/^/   $name: /"
    grep -E 'stat::number_of_executed_units' "$work.log" | sed "s/^/   /" || true
    echo "   corpus: $before -> $after files"
  else
    tail -60 "$work.log"
    echo "-- $name FAILED (input kept under fuzz/crash-$name-*)"
    failed=1
  fi
  rm -rf "$work" "$work.small" "$work.log" "$work.merge.log"
done
exit $failed
