#!/usr/bin/env bash
# Runs the event-driven and threaded test programs (sockets, session, start-up, main window, tray
# icon, application, packs read and prepared on worker threads, ovpack) N times each while two CPU-bound processes occupy both cores, and reports every
# failure. A test that passes on a quiet machine but not on a busy one shows up here.
#   bash tools/stress-tests.sh N [BUILD_DIR...]     (default: build-test and build-asan, as built)
# Exit status 1 when any run failed; the output of failed runs is kept in a temporary folder.
set -euo pipefail
runs=${1:?usage: stress-tests.sh N [BUILD_DIR...]}
shift
root=$(cd "$(dirname "$0")/.." && pwd)
builds=("$@")
if [ ${#builds[@]} -eq 0 ]; then
  for dir in build-test build-asan; do [ -d "$root/$dir/tests" ] && builds+=("$root/$dir"); done
fi
[ ${#builds[@]} -gt 0 ] || { echo "no build with tests found (build-test, build-asan)" >&2; exit 2; }
for i in "${!builds[@]}"; do  # absolute: each run changes into the build's test folder
  builds[$i]=$(cd "${builds[$i]}" && pwd) || { echo "no build folder ${builds[$i]}" >&2; exit 2; }
done
programs=(test_platform_net_sockets test_app_session test_app_startup test_app_mainf
          test_trayicon_ovnotifyicon test_platform_ui_application test_pack_pack_prepare
          test_pack_pack_read_ahead test_programs_ovpack)
per_run_limit=900     # seconds one test program may take
burn_limit=$((runs * ${#programs[@]} * ${#builds[@]} * per_run_limit))

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp"

# Two CPU-bound processes, ended by PID when the script ends; each also stops by itself.
burners=()
stop_burners() { for pid in "${burners[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap stop_burners EXIT
for _ in 1 2; do
  timeout "$burn_limit" bash -c 'while :; do :; done' &
  burners+=($!)
done

logs=$(mktemp -d -t merlig-stress.XXXXXX)
failures=0
total=0
for build in "${builds[@]}"; do
  for program in "${programs[@]}"; do
    binary="$build/tests/$program"
    [ -x "$binary" ] || { echo "missing: $binary" >&2; failures=$((failures + 1)); continue; }
    failed_here=0
    start=$(date +%s)
    for ((i = 1; i <= runs; i++)); do
      total=$((total + 1))
      log="$logs/$(basename "$build")-$program-$i.log"
      if (cd "$build/tests" && timeout "$per_run_limit" "$binary" --gtest_brief=1) >"$log" 2>&1; then
        rm -f "$log"
      else
        failed_here=$((failed_here + 1))
        failures=$((failures + 1))
        echo "FAILED: $(basename "$build") $program run $i (output: $log)"
        grep -E '^\[  FAILED  \]|ERROR: AddressSanitizer|runtime error|Segmentation' "$log" | head -5 || true
      fi
    done
    echo "$(basename "$build") $program: $runs runs, $failed_here failed, $(( $(date +%s) - start )) s"
  done
done
echo "stress: $total runs under load, $failures failed"
[ "$failures" -eq 0 ] && rmdir "$logs" 2>/dev/null || true
[ "$failures" -eq 0 ]
