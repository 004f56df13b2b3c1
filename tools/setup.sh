#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (as root) and then either runs the proxy or runs every test.
#   bash tools/setup.sh run    install what is missing, build, run Merlig
#   bash tools/setup.sh test   install what is missing, build twice (plain, and with ASan+UBSan),
#                              run the whole suite in both builds, the threaded pack tests under
#                              ThreadSanitizer, then bounded fuzz runs; last the Windows
#                              cross-build of the core library, its tests run under Wine
#   bash tools/setup.sh windows install what is missing, cross-build for 64-bit Windows into
#                              build-windows/ (the core library and its tests; run them with
#                              `ctest --test-dir build-windows`, under Wine)
set -euo pipefail
mode=${1:-}
case "$mode" in run|test|windows) ;; *) echo "usage: bash tools/setup.sh run|test|windows" >&2; exit 2 ;; esac

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)

install_missing() {
  local wanted=() missing=()
  mapfile -t wanted < <(grep -v -E '^\s*(#|$)' tools/packages.txt)
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq </dev/null
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
  fi
}

build() {  # build DIR [cmake options...] [-- targets...]
  local dir=$1; shift
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift && targets=(--target "$@")
  cmake -S . -B "$dir" -G Ninja "${options[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
}

install_missing

build_windows() {
  build build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
}

if [ "$mode" = windows ]; then
  build_windows
  exit 0
fi

if [ "$mode" = run ]; then
  build build -DCMAKE_BUILD_TYPE=Release -DMERLIG_BUILD_TESTS=OFF
  exec ./build/merlig
fi

start=$(date +%s)
echo "== plain build"
build build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERLIG_BUILD_BENCHMARKS=ON
(cd build-test && QT_QPA_PLATFORM=offscreen ctest -j "$jobs" --output-on-failure --timeout 600 </dev/null)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build (clang), with the fuzz targets"
build build-asan -DCMAKE_BUILD_TYPE=Debug -DMERLIG_SANITIZE=ON -DMERLIG_BUILD_FUZZERS=ON \
  -DMERLIG_BUILD_EXAMPLES=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && QT_QPA_PLATFORM=offscreen ctest -j "$jobs" --output-on-failure --timeout 900 </dev/null)

echo "== bounded fuzz runs"
bash tools/run-fuzzers.sh build-asan

echo "== ThreadSanitizer build (clang) of the code that runs worker threads, and its tests"
unset ASAN_OPTIONS UBSAN_OPTIONS
build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMERLIG_SANITIZE_THREADS=ON \
  -DMERLIG_BUILD_EXAMPLES=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -- ovpack test_pack_pack_prepare test_pack_pack_read_ahead test_programs_ovpack
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest -j "$jobs" \
  --output-on-failure --timeout 900 -R '^(PackPrepare|PackReadAhead|OvpackTool)\.' </dev/null)

echo "== Windows cross-build (MinGW-w64) of the core library, its tests under Wine"
build_windows
(cd build-windows && ctest -j "$jobs" --output-on-failure --timeout 600 </dev/null)

echo "== all tests passed in $(( $(date +%s) - start )) s"
