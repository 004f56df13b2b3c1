#!/usr/bin/env bash
# Checks that every source file of the library, the proxy and the programs includes only what its
# layer may use (doc/architecture.md), and that Qt headers stay inside the platform's windowed
# parts and the proxy program. Prints each breach; exit status 1 when there is one.
#   bash tools/check-layers.sh [SOURCE_DIR]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

core_graphics='graphics/(Ovbitmap\.h|BmpSource_p\.h|Bmp[A-Za-z]*\.cpp)'
core='platform/core/'
# allowed LAYER: the include prefixes (an extended regular expression) a layer's files may use.
allowed() {
  case $1 in
    platform/core) echo "^$core" ;;
    digest) echo "^($core|digest/)" ;;
    util) echo "^($core|util/)" ;;
    pack) echo "^($core|util/|pack/)" ;;
    core-graphics) echo "^($core|util/|pack/|$core_graphics)" ;;
    platform/gdi) echo "^($core|platform/gdi/)" ;;
    platform/ui) echo "^($core|platform/(gdi|ui)/)" ;;
    platform/net) echo "^($core|platform/(ui|net)/)" ;;
    graphics) echo "^($core|util/|pack/|platform/gdi/|graphics/)" ;;
    trayicon) echo "^($core|platform/ui/|trayicon/)" ;;
    programs) echo "^($core|util/|pack/|digest/)" ;;
    app) echo "^($core|platform/(gdi|ui|net)/|digest/|util/|pack/|graphics/|trayicon/|app/)" ;;
  esac
}
# Files that may include Qt: the implementation of the windowed platform parts and the program.
qt_allowed='^(platform/(gdi|ui|net)/([A-Za-z0-9]+\.cpp|[A-Za-z0-9]+_p\.h)|app/)'

breaches=0
checked=0
while IFS= read -r file; do
  case $file in
    graphics/*) if [[ $file =~ ^$core_graphics$ ]]; then layer=core-graphics; else layer=graphics; fi ;;
    platform/*/*) layer=${file%/*} ;;
    *) layer=${file%%/*} ;;
  esac
  pattern=$(allowed "$layer")
  [ -n "$pattern" ] || { echo "$file: no layer"; breaches=$((breaches + 1)); continue; }
  checked=$((checked + 1))
  while IFS= read -r include; do
    if ! [[ $include =~ $pattern ]]; then
      echo "$file (layer $layer) includes \"$include\""
      breaches=$((breaches + 1))
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
  if grep -q '^#include <Q' "$file" && ! [[ $file =~ $qt_allowed ]]; then
    echo "$file (layer $layer) includes a Qt header"
    breaches=$((breaches + 1))
  fi
done < <(git ls-files 'platform/*.h' 'platform/*.cpp' 'digest/*' 'util/*' 'pack/*' 'graphics/*' \
  'trayicon/*' 'app/*.h' 'app/*.cpp' 'programs/*.cpp' | grep -E '\.(h|cpp)$')

# Both platforms: a service that differs has one file per platform (Name_posix.cpp, Name_win.cpp) in
# platform/ or util/; <windows.h> is reached only through platform/core/Win32_p.h, that only from
# *_win.cpp files, and the other Windows headers only there too.
while IFS= read -r file; do
  case $file in
    platform/*_posix.cpp|platform/*_win.cpp|util/*_posix.cpp|util/*_win.cpp) ;;
    *_posix.cpp|*_win.cpp) echo "$file: a platform's file outside platform/ and util/"; breaches=$((breaches + 1)) ;;
  esac
  if [ "$file" != platform/core/Win32_p.h ] && grep -qi '^#include <windows\.h>' "$file"; then
    echo "$file includes <windows.h> (only platform/core/Win32_p.h may)"
    breaches=$((breaches + 1))
  fi
  if [[ $file != *_win.cpp ]] &&
     grep -qiE '^#include <(winsock2|ws2tcpip|shellapi|shlobj|bcrypt)\.h>' "$file"; then
    echo "$file includes a Windows header outside a *_win.cpp file"
    breaches=$((breaches + 1))
  fi
  if grep -q '^#include "platform/core/Win32_p.h"' "$file" && [[ $file != *_win.cpp ]]; then
    echo "$file includes platform/core/Win32_p.h (only *_win.cpp files may)"
    breaches=$((breaches + 1))
  fi
done < <(git ls-files 'platform/*' 'digest/*' 'util/*' 'pack/*' 'graphics/*' 'trayicon/*' 'app/*' \
  'programs/*' | grep -E '\.(h|cpp)$')

[ "$checked" -gt 0 ] || { echo "no source files found"; exit 1; }
if [ "$breaches" -gt 0 ]; then
  echo "$breaches includes break the layers"
  exit 1
fi
echo "$checked files include only what their layer may use"
