#!/usr/bin/env bash
# The installed programs run from any prefix: `cmake --install BUILD --prefix TMP` into a fresh
# temporary prefix, then ovpack and merlig are started from there, and a program of another
# project is built against the installed package with Ovelta::core alone. merlig is granted
# cap_net_bind_service and started as the user nobody without a display, which runs it in the
# loader's secure mode (relative run paths ignored), listening on 127.0.0.1 and ::1 only, with a
# plugin directory of the user's own named in its environment. It must log its start line without
# loading that plugin, hold no capability left by then, serve a whole session on port 110 (to a
# server on 127.0.0.2, port 110, which only a listener that keeps to its addresses leaves free)
# without leaving the password or the APOP digest in its standard error, and a second copy must
# fail with its message and exit status 1. Needs root (setcap, setpriv); exits 77 (skipped)
# without it or when port 110 is already taken by another program.
#   bash tests/install/install_test.sh BUILD_DIR VERSION [CXX [SANITIZER_FLAGS [PLANTED_PLUGIN]]]
# (the compiler and sanitizer flags the build used, for the consumer program; a toolkit plugin
# that announces itself on standard error when loaded)
set -euo pipefail
build=$(cd "${1:?usage: install_test.sh BUILD_DIR VERSION}" && pwd)
version=${2:?usage: install_test.sh BUILD_DIR VERSION}
consumer_cxx=${3:-c++}
consumer_flags=${4:-}
planted_plugin=${5:-}
readonly kStartLine='* Merlig 開始'
readonly kOpenFailed='ServerSocketがOpenできませんでした。'
readonly kGreeting='+OK POP3 to APOP transfer ready'
readonly kPlantedMark='PLANTED PLUGIN LOADED'
readonly kNoCapabilities=0000000000000000
readonly kWaitSteps=600  # tenths of a second: a minute for a slow (sanitizer) start
readonly kSkip=77

fail() { echo "FAIL: $*" >&2; exit 1; }
fail_showing() { cat "$1" >&2; shift; fail "$@"; }  # fail_showing LOG MESSAGE

umask 022
# World-readable (mktemp makes it 0700), so that nobody can reach the programs inside. In a 0700
# directory setpriv, which keeps root's capabilities up to the exec, would still start merlig,
# and the loader, reading as nobody, would fail on libovelta.so.0 exactly as a missing run path
# does.
tmp=$(mktemp -d /tmp/merlig-install.XXXXXX)
chmod 755 "$tmp"
pid=""
server_pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" ||
  fail_showing "$tmp/install.log" install
bin=$prefix/bin

# Plain runs, without any capability: the run path finds the library.
"$bin/ovpack" --help >"$tmp/out" || fail "ovpack --help: status $?"
grep -q '^Usage: ovpack' "$tmp/out" || fail "ovpack --help printed: $(cat "$tmp/out")"
[ "$("$bin/ovpack" --version)" = "ovpack $version" ] || fail "ovpack --version"
"$bin/merlig" --help >"$tmp/out" || fail "merlig --help: status $?"
grep -q '^Usage: merlig' "$tmp/out" || fail "merlig --help printed: $(cat "$tmp/out")"
[ "$("$bin/merlig" --version)" = "merlig $version" ] || fail "merlig --version"
# The service names the program where it was installed, and verifies (man page included).
unit=$prefix/lib/systemd/system/merlig.service
grep -qx "ExecStart=$bin/merlig" "$unit" || fail "ExecStart in $unit: $(grep ExecStart "$unit")"
MANPATH=$prefix/share/man systemd-analyze verify "$unit" || fail "systemd-analyze verify $unit"
# Its hardening stays: an exposure above 1.9 (of 10) means a protection was lost.
systemd-analyze security --offline=yes --threshold=19 "$unit" >"$tmp/security" ||
  fail_showing "$tmp/security" "the service's exposure rose"

# Another project builds against the installed package with Ovelta::core alone and runs without
# the toolkit (the digest of "abc" is the test vector of RFC 1321).
consumer=$tmp/consumer
cmake -S "$(dirname "$0")/consumer" -B "$consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$consumer_cxx" -DCMAKE_CXX_FLAGS="$consumer_flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$consumer_flags" >"$tmp/consumer.log" 2>&1 &&
  cmake --build "$consumer" >>"$tmp/consumer.log" 2>&1 ||
  fail_showing "$tmp/consumer.log" "a consumer of Ovelta::core does not build"
[ "$("$consumer/md5sum_core" abc)" = 900150983cd24fb0d6963f7d28e17f72 ] ||
  fail "the consumer printed: $("$consumer/md5sum_core" abc)"
! ldd "$consumer/md5sum_core" | grep -E 'libQt|libovelta\.so' || fail "the consumer loads the toolkit"

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: granting a capability and running as another user need root"
  exit $kSkip
fi
if (exec 3<>/dev/tcp/127.0.0.1/110) 2>/dev/null; then
  echo "SKIPPED: port 110 is taken by another program"
  exit $kSkip
fi

setcap cap_net_bind_service=+ep "$bin/merlig" || fail "setcap on $bin/merlig"
mkdir -m 700 "$tmp/home" && chown nobody "$tmp/home"  # home and toolkit runtime directory
# The user's own plugin directory, named through the toolkit's variables (QT_DEBUG_PLUGINS would
# print the directories searched).
plugins=$tmp/plugins
mkdir -p "$plugins/generic" "$plugins/platforms"
if [ -n "$planted_plugin" ]; then cp "$planted_plugin" "$plugins/generic/"; fi
# The first copy: an ordinary user, no display, an argument it must ignore, the loopback
# addresses only.
(cd "$tmp" && exec env -i PATH=/usr/bin:/bin HOME="$tmp/home" XDG_RUNTIME_DIR="$tmp/home" \
  QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$plugins" QT_QPA_GENERIC_PLUGINS=planted \
  QT_QPA_PLATFORM_PLUGIN_PATH="$plugins/platforms" QT_DEBUG_PLUGINS=1 \
  setpriv --reuid=nobody --regid=nogroup --clear-groups \
  "$bin/merlig" --an-ignored-argument --listen 127.0.0.1 --listen ::1 2>"$tmp/first.err") &
pid=$!
for ((i = 0; i < kWaitSteps; ++i)); do
  grep -qF "$kStartLine" "$tmp/first.err" && break
  kill -0 "$pid" 2>/dev/null || fail_showing "$tmp/first.err" "merlig as nobody ended"
  sleep 0.1
done
grep -qF "$kStartLine" "$tmp/first.err" || fail_showing "$tmp/first.err" "no start line in a minute"
uid=$(awk '/^Uid:/ { print $3 }' "/proc/$pid/status")  # the effective user
[ "$uid" = "$(id -u nobody)" ] || fail "merlig runs as user $uid, not nobody"
! grep -qF "$kPlantedMark" "$tmp/first.err" || fail_showing "$tmp/first.err" "the plugin loaded"
! grep -qF "$plugins" "$tmp/first.err" || fail_showing "$tmp/first.err" "plugins sought in $plugins"
for set in CapEff CapPrm CapInh CapAmb; do
  value=$(awk -v set="$set:" '$1 == set { print $2 }' "/proc/$pid/status")
  [ "$value" = "$kNoCapabilities" ] || fail "merlig still holds capabilities: $set $value"
done
exec 3<>/dev/tcp/::1/110 || fail "nothing answers on [::1]:110"
IFS= read -r -t 30 greeting <&3 || fail "no greeting on [::1]:110"
exec 3<&-
[ "${greeting%$'\r'}" = "$kGreeting" ] || fail "greeting on [::1]:110: $greeting"

# A whole session, through a POP3 server on 127.0.0.2 port 110: that port is free only because
# merlig listens on the addresses it was given alone. The server checks the APOP line (the digest
# of RFC 1939's example), answers STAT and QUIT, and ends.
python3 - 127.0.0.2 110 >"$tmp/server.log" 2>&1 <<'SERVER' &
import socket, sys
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)  # past an earlier run's TIME_WAIT
listener.settimeout(120)
listener.bind((sys.argv[1], int(sys.argv[2])))
listener.listen(1)
print("listening", flush=True)
connection, _ = listener.accept()
connection.settimeout(60)
lines = connection.makefile("rb")
connection.sendall(b"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n")
apop = lines.readline()
print("received", apop, flush=True)
if apop != b"APOP alice c4c9334bac560ecc979e58001b3e22fb\r\n":
    connection.sendall(b"-ERR permission denied\r\n")
    sys.exit(1)
connection.sendall(b"+OK alice's maildrop has 0 messages\r\n")
for line in lines:
    if line == b"STAT\r\n":
        connection.sendall(b"+OK 0 0\r\n")
    elif line == b"QUIT\r\n":
        connection.sendall(b"+OK bye\r\n")
        break
connection.close()
SERVER
server_pid=$!
for ((i = 0; i < kWaitSteps; ++i)); do
  grep -qs listening "$tmp/server.log" && break
  kill -0 "$server_pid" 2>/dev/null || fail_showing "$tmp/server.log" "127.0.0.2:110 is taken"
  sleep 0.1
done
exchange() {  # exchange LINE EXPECTED: sends LINE on the session, reads the answer
  if [ -n "$1" ]; then printf '%s\r\n' "$1" >&3; fi
  local answer
  IFS= read -r -t 30 answer <&3 || fail "no answer to '$1'"
  [ "${answer%$'\r'}" = "$2" ] || fail "answer to '$1': $answer, not $2"
}
exec 3<>/dev/tcp/127.0.0.1/110 || fail "nothing answers on port 110"
exchange "" "$kGreeting"
exchange "USER alice@127.0.0.2" "+OK kvale is a real hoopy frood"
exchange "PASS tanstaaf" "+OK alice's maildrop has 0 messages"
exchange "STAT" "+OK 0 0"
exchange "QUIT" "+OK bye"
exec 3<&-
wait "$server_pid" || fail_showing "$tmp/server.log" "the server saw a wrong session"
server_pid=""
# Standard error (the journal of the service) keeps neither the password nor a digest.
grep -qF "> APOP alice ********************************" "$tmp/first.err" ||
  fail_showing "$tmp/first.err" "no masked APOP line"
! grep -qE 'tanstaaf|[0-9a-fA-F]{32}' "$tmp/first.err" ||
  fail_showing "$tmp/first.err" "the password or the digest is on standard error"

# A second copy finds the port taken: the message, then status 1.
status=0
mkdir -m 700 "$tmp/runtime"
XDG_RUNTIME_DIR=$tmp/runtime QT_QPA_PLATFORM=offscreen timeout 120 "$bin/merlig" \
  2>"$tmp/second.err" || status=$?
[ "$status" -eq 1 ] || fail_showing "$tmp/second.err" "second copy: status $status, not 1"
grep -qF "$kOpenFailed" "$tmp/second.err" || fail_showing "$tmp/second.err" "second copy: no text"
kill -0 "$pid" 2>/dev/null || fail "the first copy ended"

kill "$pid"
wait "$pid" 2>/dev/null || true
pid=""
echo "installed programs run from $prefix"
