#!/usr/bin/env bash
# The Debian packages: cpack builds merlig, libovelta0 and libovelta-dev from the build tree; their
# metadata (names, versions, dependencies, the shared library's shlibs, merlig's maintainer
# scripts, the licence) and contents are checked with dpkg-deb; then dpkg installs all three into a
# scratch root, running merlig's post-install step there (it grants the capability), and ovpack
# runs from it; last, merlig is removed (its enabled service stays enabled) and purged (disabled).
#   bash tests/install/package_test.sh BUILD_DIR VERSION LIBDIR
set -euo pipefail
usage="usage: package_test.sh BUILD_DIR VERSION LIBDIR"
build=$(cd "${1:?$usage}" && pwd)
version=${2:?$usage}
libdir=usr/${3:?$usage}
readonly deb_version=$version-1
arch=$(dpkg --print-architecture)

fail() { echo "FAIL: $*" >&2; exit 1; }
fail_showing() { cat "$1" >&2; shift; fail "$@"; }  # fail_showing LOG MESSAGE

umask 022
tmp=$(mktemp -d /tmp/merlig-deb.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

(cd "$tmp" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/out") \
  >"$tmp/cpack.log" 2>&1 || fail_showing "$tmp/cpack.log" cpack
deb() { echo "$tmp/out/${1}_${deb_version}_$arch.deb"; }
for package in merlig libovelta0 libovelta-dev; do
  [ -f "$(deb $package)" ] || { ls "$tmp/out"; fail "no package $(basename "$(deb $package)")"; }
done
ls -l "$tmp"/out/*.deb

# Metadata.
field() { dpkg-deb --field "$(deb "$1")" "$2"; }
expect_in() {  # expect_in PACKAGE FIELD TEXT: the field contains the text
  local value; value=$(field "$1" "$2")
  [[ "$value" == *"$3"* ]] || fail "$1 $2 lacks '$3': $value"
}
for package in merlig libovelta0 libovelta-dev; do
  [ "$(field $package Package)" = "$package" ] || fail "$package: Package field"
  [ "$(field $package Version)" = "$deb_version" ] || fail "$package: $(field $package Version)"
  [ "$(field $package Architecture)" = "$arch" ] || fail "$package: Architecture"
  description=$(field $package Description)
  [ "$(wc -l <<<"$description")" -ge 3 ] || fail "$package: no long description: $description"
  expect_in $package Depends "libc6"
done
expect_in merlig Depends "libovelta0 (= $deb_version)"
expect_in merlig Depends "libcap2-bin"  # the post-install step's setcap
expect_in merlig Depends "libqt6core6"  # from dpkg-shlibdeps
expect_in libovelta0 Depends "libqt6widgets6"
expect_in libovelta-dev Depends "libovelta0 (= $deb_version)"
[ "$(dpkg-deb --info "$(deb libovelta0)" shlibs | LC_ALL=C sort)" = "libovelta 0 libovelta0 (= $deb_version)
libovelta-core 0 libovelta0 (= $deb_version)" ] ||
  fail "libovelta0 shlibs: $(dpkg-deb --info "$(deb libovelta0)" shlibs)"
dpkg-deb --info "$(deb merlig)" postinst | grep -q 'setcap cap_net_bind_service=+ep' ||
  fail "merlig has no post-install step granting the capability"
dpkg-deb --info "$(deb merlig)" prerm | grep -q 'systemctl --system stop merlig.service' ||
  fail "merlig has no pre-removal step stopping its service"
for package in merlig libovelta0 libovelta-dev; do
  # Read whole before matching: grep -q would end the pipe early and tar fail on it (pipefail).
  copyright=$(dpkg-deb --fsys-tarfile "$(deb $package)" | tar -xOf - ./usr/share/doc/$package/copyright)
  grep -qx 'License: Expat' <<<"$copyright" || fail "$package does not state its licence"
done

# Contents: the files each package must hold, and nothing of another package's.
contents() { dpkg-deb --contents "$(deb "$1")" | awk '$1 !~ /^d/ { print $6 }' | sort; }
expect_exactly() {  # expect_exactly PACKAGE PATH...
  local package=$1; shift
  diff <(printf '%s\n' "$@" | sort) <(contents "$package") || fail "$package holds (diff above)"
}
expect_exactly merlig ./usr/bin/merlig ./usr/lib/systemd/system/merlig.service \
  ./usr/share/applications/merlig.desktop ./usr/share/doc/merlig/copyright \
  ./usr/share/man/man1/merlig.1.gz ./usr/share/pixmaps/merlig.xpm
expect_exactly libovelta0 "./$libdir/libovelta.so.0" "./$libdir/libovelta.so.$version" \
  "./$libdir/libovelta-core.so.0" "./$libdir/libovelta-core.so.$version" \
  ./usr/share/doc/libovelta0/copyright
dev=$(contents libovelta-dev)
for path in ./usr/bin/ovpack "./$libdir/libovelta.so" "./$libdir/libovelta-core.so" "./$libdir/cmake/Ovelta/OveltaConfig.cmake" \
  "./$libdir/cmake/Ovelta/OveltaTargets.cmake" ./usr/include/ovelta/pack/Ovpack.h \
  ./usr/include/ovelta/graphics/Ovdib.h ./usr/share/man/man1/ovpack.1.gz \
  ./usr/share/doc/libovelta-dev/copyright; do
  grep -qxF "$path" <<<"$dev" || fail "libovelta-dev lacks $path"
done
allowed="^\./usr/include/ovelta/|^\./$libdir/cmake/Ovelta/|^\./usr/bin/ovpack\$"
allowed+="|^\./$libdir/libovelta(-core)?\.so\$"
allowed+="|^\./usr/share/man/man1/ovpack\.1\.gz\$|^\./usr/share/doc/libovelta-dev/copyright\$"
stray=$(grep -vE "$allowed" <<<"$dev" || true)
[ -z "$stray" ] || fail "libovelta-dev holds unexpected files: $stray"

# Install into a scratch root, maintainer scripts included (run outside the root, with DPKG_ROOT).
root=$tmp/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --log=/dev/null --force-depends --force-script-chrootless \
  -i "$(deb libovelta0)" "$(deb libovelta-dev)" "$(deb merlig)" >"$tmp/dpkg.log" 2>&1 ||
  fail_showing "$tmp/dpkg.log" "dpkg --root install"
for package in merlig libovelta0 libovelta-dev; do
  dpkg --root="$root" -s $package | grep -qx 'Status: install ok installed' ||
    fail "$package not installed"
done
if [ "$(id -u)" -eq 0 ]; then  # only root can grant capabilities
  getcap "$root/usr/bin/merlig" | grep -q cap_net_bind_service=ep ||
    fail "post-install step did not grant the capability: $(getcap "$root/usr/bin/merlig")"
fi
grep -qx 'ExecStart=/usr/bin/merlig' "$root/usr/lib/systemd/system/merlig.service" ||
  fail "the service's ExecStart"
for program in merlig ovpack; do  # /usr's lib directory is the loader's own: no run path
  ! readelf -d "$root/usr/bin/$program" | grep -qE 'RPATH|RUNPATH' || fail "$program has a run path"
done
LD_LIBRARY_PATH=$root/$libdir "$root/usr/bin/ovpack" --help >"$tmp/help" || fail "ovpack --help: $?"
grep -q '^Usage: ovpack' "$tmp/help" || fail "ovpack --help printed: $(cat "$tmp/help")"

# The administrator enabled the service: removing the package keeps that choice, purging undoes it.
wants=$root/etc/systemd/system/multi-user.target.wants
mkdir -p "$wants"
ln -s /usr/lib/systemd/system/merlig.service "$wants/merlig.service"
dpkg_root() { dpkg --root="$root" --log=/dev/null --force-depends --force-script-chrootless "$@"; }
dpkg_root -r merlig >>"$tmp/dpkg.log" 2>&1 || fail_showing "$tmp/dpkg.log" "dpkg --root remove"
[ ! -e "$root/usr/bin/merlig" ] || fail "merlig is still there after its removal"
[ -L "$wants/merlig.service" ] || fail "removing merlig disabled its service"
dpkg_root -P merlig >>"$tmp/dpkg.log" 2>&1 || fail_showing "$tmp/dpkg.log" "dpkg --root purge"
[ ! -L "$wants/merlig.service" ] || fail "purging merlig left its service enabled"
echo "packages build and install into a scratch root"
