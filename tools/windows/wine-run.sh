#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix, making the prefix first if it is missing.
#   tools/windows/wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
# The prefix is made once (wineboot -i, under a lock, so that tests started together wait for one
# another) and reused; remove the directory to start afresh.
set -euo pipefail
prefix=$1; shift
export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
export WINEARCH=win64
if [ ! -f "$prefix/.merlig-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.merlig-ready" ]; then
    rm -rf "$prefix"
    wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$prefix/.merlig-ready"
  fi
  exec 9>&-
fi
# One Wine server for a whole test run: it stays for a while after its last program has ended
# (instead of Wine's few seconds), so that a test starting as it shuts down does not find its
# connection reset. With a server already running, this one exits at once.
wineserver -p"${MERLIG_WINESERVER_LINGER:-20}" >/dev/null 2>&1 </dev/null || true
exec wine "$@"
