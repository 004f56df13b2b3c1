#!/usr/bin/env bash
# Checks that every program and DLL of a Windows build imports only Windows' own DLLs and the
# build's own: no MinGW runtime (libgcc, libstdc++, libwinpthread) left to ship beside them.
#   tools/windows/check-imports.sh BUILD_DIR [OBJDUMP]
set -euo pipefail
dir=$1
objdump=${2:-x86_64-w64-mingw32-objdump}
# The system's DLLs the library and its tests may use (compared ignoring case).
system_dlls="kernel32.dll msvcrt.dll ucrtbase.dll user32.dll advapi32.dll shell32.dll bcrypt.dll
ole32.dll ws2_32.dll ntdll.dll"
shopt -s nullglob nocaseglob
files=("$dir"/*.exe "$dir"/*.dll)
[ ${#files[@]} -gt 0 ] || { echo "no .exe or .dll in $dir" >&2; exit 1; }
bad=0
for file in "${files[@]}"; do
  while read -r name; do
    lower=${name,,}
    case " ${system_dlls//$'\n'/ } " in *" $lower "*) continue ;; esac
    [[ $lower == api-ms-win-* ]] && continue
    [ -f "$dir/$name" ] && continue  # one of the build's own
    echo "$(basename "$file") imports $name" >&2
    bad=1
  done < <("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
done
[ $bad -eq 0 ] && echo "${#files[@]} programs and DLLs import only the system's DLLs and their own"
exit $bad
