#!/usr/bin/env bash
# Each program given loads no toolkit library: ldd lists no Qt, X11 or xcb library among everything
# it loads, and names the core library (so the check looks at a program that links it).
#   bash tests/install/no_toolkit_test.sh PROGRAM...
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: no_toolkit_test.sh PROGRAM..." >&2; exit 2; }
status=0
for program in "$@"; do
  libraries=$(ldd "$program") || { echo "FAIL: ldd $program" >&2; status=1; continue; }
  if ! grep -q 'libovelta-core\.so' <<<"$libraries"; then
    echo "FAIL: $program does not load libovelta-core" >&2
    status=1
  fi
  toolkit=$(grep -E 'libQt|libX11|libxcb|libovelta\.so' <<<"$libraries" || true)
  if [ -n "$toolkit" ]; then
    echo "FAIL: $program loads: $toolkit" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "$# programs load no toolkit library"
exit $status
