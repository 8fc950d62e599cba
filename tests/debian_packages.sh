#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian packages (debian/) the way `dpkg-buildpackage -us -uc -b`
# does from a clean clone, checks them with lintian, unpacks them into a
# throw-away root and there builds and runs the C (pkg-config) and CMake
# consumers against libvelkcore-dev and libvelkpay-dev and runs the programs
# of velk-tools.
#
# It builds from a copy of the tracked files as they are in the working tree,
# because dpkg-buildpackage writes into the source tree and puts the packages
# in its parent directory. The package's own test run is skipped (nocheck):
# the other suites run the same tests. VELK_DEBIAN_KEEP=1 keeps the working
# directory (the copy, the packages and the build log) for a look.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

say() { echo "debian_packages.sh: $*"; }
fail() { echo "debian_packages.sh: $*" >&2; exit 1; }

start=$SECONDS
for tool in git dpkg-buildpackage dh lintian pkg-config cc c++ cmake readelf; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (cmake/deps.sh test installs it)"
done
git rev-parse --is-inside-work-tree >/dev/null 2>&1 || fail "$top is not a git checkout"

# The package version is the library's (velkcore.h, which the CMake packages
# and the pkg-config files take theirs from), and each symbols file names
# exactly the functions its library exports.
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
lib_version=$(sed -n 's/^#define VELKCORE_VERSION_STRING "\([^"]*\)".*/\1/p' lib/include/velkcore.h)
[ -n "$lib_version" ] || fail "lib/include/velkcore.h defines no VELKCORE_VERSION_STRING"
[ "$version" = "$lib_version" ] ||
  fail "debian/changelog is at $version, the library (velkcore.h) at $lib_version"
for pair in libvelkcore1:lib/exports.txt libvelkpay1:lib/pay/exports.txt; do
  package=${pair%%:*} list=${pair#*:}
  symbols=$(sed -n 's/^ \([A-Za-z0-9_]*\)@Base .*/\1/p' "debian/$package.symbols" | LC_ALL=C sort)
  exports=$(grep -v -e '^#' -e '^$' "$list" | LC_ALL=C sort)
  [ "$symbols" = "$exports" ] ||
    fail "debian/$package.symbols and $list name different functions:
$(diff <(echo "$symbols") <(echo "$exports") || true)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/velk-debian.XXXXXX")
if [ -n "${VELK_DEBIAN_KEEP:-}" ]; then say "working in $work (kept)"; else trap 'rm -rf "$work"' EXIT; fi
src=$work/velk-$version
mkdir "$src"
# Tracked files deleted in the working tree are left out.
git ls-files -z | while IFS= read -r -d '' f; do
  if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi
done | tar --null -T - -cf - | tar -xf - -C "$src"
# A repository of its own, so that what the build leaves behind shows.
git -C "$src" init -q && git -C "$src" add -A

arch=$(dpkg-architecture -qDEB_HOST_ARCH)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
say "building velk $version for $arch (nocheck)"
if ! (cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
        dpkg-buildpackage -us -uc -b -Pnocheck) >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log" >&2
  fail "dpkg-buildpackage failed"
fi
left=$(git -C "$src" ls-files --others --exclude-standard; git -C "$src" diff --name-only)
[ -z "$left" ] || fail "the build left files that git sees (debian/.gitignore):
$left"

say "lintian"
lintian --fail-on error,warning --display-info "$work/velk_${version}_${arch}.changes" ||
  fail "lintian reports errors or warnings"

deb() { echo "$work/${1}_${version}_${arch}.deb"; }
packages="libvelkcore1 libvelkcore-dev libvelkpay1 libvelkpay-dev velk-tools"
for p in $packages; do
  [ -f "$(deb "$p")" ] || fail "no package $p"
done

# What each package holds beyond its documentation directory.
payload() {
  dpkg-deb --fsys-tarfile "$(deb "$1")" | tar -t | sed 's|^\./|/|' |
    grep -v -e '/$' -e "^/usr/share/doc/$1/" | LC_ALL=C sort | tr '\n' ' '
}
lib=/usr/lib/$multiarch
expect() {
  local got
  got=$(payload "$1")
  [ "$got" = "$2" ] || fail "$1 holds: $got
expected: $2"
}
expect libvelkcore1 "$lib/libvelkcore.so.1 $lib/libvelkcore.so.1.0.0 "
expect libvelkcore-dev "/usr/include/velkcore.h /usr/include/velkcore.hpp \
$lib/cmake/velkcore/velkcoreConfig.cmake $lib/cmake/velkcore/velkcoreConfigVersion.cmake \
$lib/cmake/velkcore/velkcoreTargets-none.cmake $lib/cmake/velkcore/velkcoreTargets.cmake \
$lib/libvelkcore.so $lib/pkgconfig/velkcore.pc /usr/share/man/man3/velkcore.3.gz "
expect libvelkpay1 "$lib/libvelkpay.so.1 $lib/libvelkpay.so.1.0.0 "
expect libvelkpay-dev "/usr/include/velkpay.h /usr/include/velkpay.hpp \
$lib/cmake/velkpay/velkpayConfig.cmake $lib/cmake/velkpay/velkpayConfigVersion.cmake \
$lib/cmake/velkpay/velkpayTargets-none.cmake $lib/cmake/velkpay/velkpayTargets.cmake \
$lib/libvelkpay.so $lib/pkgconfig/velkpay.pc /usr/share/man/man3/velkpay.3.gz "
expect velk-tools "/usr/bin/velkfile /usr/bin/velkkey /usr/bin/velkpay /usr/bin/velktext \
/usr/share/man/man1/velkfile.1.gz /usr/share/man/man1/velkkey.1.gz \
/usr/share/man/man1/velkpay.1.gz /usr/share/man/man1/velktext.1.gz "
depends() { dpkg-deb -f "$(deb "$1")" Depends; }
depends libvelkcore-dev | grep -q "libvelkcore1 (= $version)" ||
  fail "libvelkcore-dev does not depend on libvelkcore1 (= $version)"
depends libvelkpay-dev | grep -q "libvelkpay1 (= $version)" ||
  fail "libvelkpay-dev does not depend on libvelkpay1 (= $version)"
depends libvelkpay-dev | grep -q "libvelkcore-dev (= $version)" ||
  fail "libvelkpay-dev does not depend on libvelkcore-dev (= $version), which its package files find"
depends libvelkpay1 | grep -q "libvelkcore1 (>= " ||
  fail "libvelkpay1 does not depend on libvelkcore1, which it loads: $(depends libvelkpay1)"
if depends velk-tools | grep -q -e libvelkcore -e libvelkpay; then
  fail "velk-tools depends on a library it carries inside"
fi

say "unpacking into a throw-away root; consumers and programs"
root=$work/root
for p in $packages; do dpkg -x "$(deb "$p")" "$root"; done
pc_libdir=$root/usr/lib/$multiarch/pkgconfig
for library in velkcore velkpay; do
  flags=$(PKG_CONFIG_LIBDIR=$pc_libdir pkg-config --cflags --libs $library | xargs)
  [ "$flags" = "-l$library" ] ||
    fail "pkg-config gives '$flags' for the installed $library, not just -l$library"
done
if readelf -d "$root/$lib/libvelkpay.so.1" | grep -q -e RPATH -e RUNPATH; then
  fail "libvelkpay.so.1 carries a run path"
fi
# The package's pkg-config file names /usr; the sysroot moves it into the root.
# A C program against each library, through pkg-config and through CMake;
# the root is no loader directory, so SYSTEM_LAYOUT lets them find
# libvelkcore.so.1 from libvelkpay.so.1 by LD_LIBRARY_PATH.
for library in velkcore velkpay; do
  for which in pkgconfig cmake; do
    PKG_CONFIG_SYSROOT_DIR=$root cmake -DPREFIX="$root/usr" -DLIBDIR="lib/$multiarch" -DWORK="$work/consumers" \
          -DCC="$(command -v cc)" -DCXX="$(command -v c++)" -DPKG_CONFIG="$(command -v pkg-config)" \
          -DSOURCE_DIR="$top/tests/install" -DVERSION="$version" -DWHICH=$which -DLIBRARY=$library \
          -DSYSTEM_LAYOUT=ON -P "$top/tests/install/consumers.cmake" ||
      fail "the $which consumer failed against the unpacked lib$library-dev"
  done
done
for program in velkfile velktext velkkey velkpay; do
  if readelf -d "$root/usr/bin/$program" | grep -q -e 'NEEDED.*libvelkcore' -e 'NEEDED.*libvelkpay'; then
    fail "$program loads a shared velk library"
  fi
done
# The key check value of a published key, as velkpay(1) shows it.
kcv=$("$root/usr/bin/velkpay" kcv 0123456789ABCDEFFEDCBA9876543210)
[ "$kcv" = "08D7B4" ] || fail "velkpay kcv printed '$kcv', not 08D7B4"
say "velkpay: kcv $kcv"
for program in velktext velkkey; do
  last=$("$root/usr/bin/$program" | tail -n 1)
  case $last in Succeeded*) say "$program: $last" ;; *) fail "$program ends: $last" ;; esac
done
"$root/usr/bin/velkfile" -m cbc README.md "$work/readme.vf"
"$root/usr/bin/velkfile" -d -m cbc "$work/readme.vf" "$work/readme.out"
cmp README.md "$work/readme.out" || fail "velkfile does not give README.md back"
say "velkfile: README.md round trip"
say "the five packages build, pass lintian and work ($((SECONDS - start)) s)"
