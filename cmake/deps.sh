#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages one kind of work needs, where they are missing.
#
#   cmake/deps.sh build          cmake, ninja and clang: what the release
#                                preset needs to build the library and programs
#   cmake/deps.sh test           everything tests/run_all.sh needs: also g++,
#                                clang's sanitizer and libFuzzer runtime,
#                                GoogleTest, Google Benchmark, libssl, BearSSL,
#                                valgrind, cadical (the S-box generator's SAT
#                                solver) and the tools the tests call, and for
#                                the other targets Debian's cross compilers
#                                (aarch64, s390x, i686, mingw-w64), qemu-user,
#                                and GoogleTest and the C library's debugging
#                                symbols of those targets (multiarch packages;
#                                their architectures are added to dpkg)
#   cmake/deps.sh --check NAME   only lists what is missing (exit 1 if anything)
#
# The README's Quick start and .ci/run both call it, so they install the same.
# It names the packages before installing them, installs none that dpkg lists
# as installed, runs apt-get update only when something is missing (and goes
# on with the lists it could read when a mirror fails some), and goes
# through sudo when not run as root; apt waits for a dpkg lock held by another
# install rather than failing. Without apt-get it names the packages and
# stops with exit status 1. Last, it checks that cmake is new enough for the
# presets and says what to do when it is not.
#
# libssl-dev of the other targets is left out: a multiarch libssl-dev installs
# only beside the native one of exactly the same version, which mirrors do not
# always publish for every architecture at once. The cross builds skip their
# comparisons with libcrypto, visibly, and run every other test.
set -euo pipefail

usage() { echo "usage: $0 [--check] build|test" >&2; exit 2; }
check_only=0
if [ "${1:-}" = --check ]; then check_only=1; shift; fi
[ $# = 1 ] || usage
profile=$1
case $profile in
  build) packages=(cmake ninja-build clang) ;;
  test) packages=(cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev
                  libssl-dev openssl libbearssl-dev pkg-config groff-base mandoc binutils
                  valgrind cadical
                  g++-aarch64-linux-gnu g++-s390x-linux-gnu g++-i686-linux-gnu
                  g++-mingw-w64-x86-64-posix qemu-user
                  libgtest-dev:arm64 libgtest-dev:s390x libgtest-dev:i386 libc6-dbg:i386) ;;
  *) usage ;;
esac
# tests/debian_packages.sh builds the Debian packages and checks them.
if [ "$profile" = test ]; then packages+=(build-essential debhelper dpkg-dev lintian git); fi

say() { echo "cmake/deps.sh: $*"; }
fail() { for line in "$@"; do echo "cmake/deps.sh: $line" >&2; done; exit 1; }

# The version CMakePresets.json and CMakeLists.txt ask for.
cmake_needed=3.25
check_cmake() {
  command -v cmake >/dev/null 2>&1 || fail "cmake is not installed"
  local have
  have=$(cmake --version | sed -n 's/^cmake version \([0-9][0-9]*\.[0-9][0-9]*\).*/\1/p')
  if [ -z "$have" ] ||
     [ "$(printf '%s\n%s\n' "$cmake_needed" "$have" | sort -V | head -n 1)" != "$cmake_needed" ]; then
    fail "cmake ${have:-of unknown version} is older than $cmake_needed, which the presets need" \
         "(Ubuntu 22.04 ships 3.22). Install a newer one, e.g. from the distribution's" \
         "backports, Kitware's apt repository, or 'pip install cmake' (then put its" \
         "cmake first on PATH), and run this again."
  fi
}
done_ok() {
  say "every package for '$profile' is installed"
  check_cmake
  exit 0
}
apt_get() {
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@"
}

have_dpkg=0
command -v dpkg-query >/dev/null 2>&1 && have_dpkg=1
installed() {
  [ $have_dpkg = 1 ] && dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# The sanitizers and libFuzzer come in clang's runtime package, named after
# clang's major version; taking the version from clang itself keeps the two
# in step on every release (Debian 12 has clang 14, Debian 13 clang 19).
# The version `clang` runs now, or else the one the `clang` package brings.
clang_major() {
  if command -v clang >/dev/null 2>&1; then
    clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1
  elif command -v apt-cache >/dev/null 2>&1; then
    apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1
  fi
}
runtime_of() { echo "libclang-rt-$1-dev"; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
# Before clang is installed its version may be unknown until the package
# lists are fresh; then the runtime is settled after apt-get update.
runtime=""
runtime_pending=0
if [ "$profile" = test ]; then
  if command -v clang >/dev/null 2>&1; then
    major=$(clang_major)
    [ -n "$major" ] || fail "cannot read the version of $(command -v clang)"
    runtime=$(runtime_of "$major")
    installed "$runtime" || missing+=("$runtime")
  else
    runtime_pending=1
  fi
fi

if [ ${#missing[@]} = 0 ] && [ $runtime_pending = 0 ]; then
  done_ok
fi
named=("${missing[@]}")
[ $runtime_pending = 1 ] && named+=("libclang-rt-<clang's major version>-dev")

if [ $check_only = 1 ]; then
  fail "missing for '$profile': ${named[*]}"
fi
if ! command -v apt-get >/dev/null 2>&1 || [ $have_dpkg = 0 ]; then
  fail "no apt-get on this system; install these packages (Debian names) with its" \
       "package manager, then run the steps that follow cmake/deps.sh:" "  ${named[*]}"
fi
as_root=()
if [ "$(id -u)" != 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    fail "not root and no sudo; as root, run: apt-get install ${named[*]}"
  fi
  as_root=(sudo)
fi

say "missing for '$profile': ${named[*]}"
if [ "$profile" = test ]; then
  say "for 'test' this adds the arm64, s390x and i386 architectures to dpkg" \
      "(dpkg --add-architecture) where they are missing and installs Debian's" \
      "cross compilers, qemu-user and those architectures' libraries"
fi
# Multiarch packages (name:arch) need their architecture known to dpkg
# before the package lists are read.
native=$(dpkg --print-architecture)
for p in "${missing[@]}"; do
  case $p in
    *:*) arch=${p##*:}
         if [ "$arch" != "$native" ] &&
            ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
           say "adding the architecture $arch to dpkg"
           "${as_root[@]}" dpkg --add-architecture "$arch"
         fi ;;
  esac
done
say "updating the package lists (apt-get update)"
if ! apt_get update -qq; then
  # A mirror caught in the middle of a sync serves some lists that fail
  # their checks; those that did arrive usually hold every package, and
  # apt-get install names any package they lack.
  say "apt-get update could not read every package list (see above);" \
      "installing from the lists it has"
fi

if [ $runtime_pending = 1 ]; then
  major=$(clang_major)
  [ -n "$major" ] || fail "cannot tell which clang version the 'clang' package installs"
  runtime=$(runtime_of "$major")
  installed "$runtime" || missing+=("$runtime")
fi
# Older releases ship the runtime inside libclang-common-N-dev, which clang
# depends on, and have no package of this name.
if [ -n "$runtime" ] && ! installed "$runtime" &&
   ! apt-cache show "$runtime" >/dev/null 2>&1; then
  say "no package $runtime here: clang's runtime comes with clang itself"
  kept=()
  for p in "${missing[@]}"; do [ "$p" = "$runtime" ] || kept+=("$p"); done
  missing=("${kept[@]}")
fi
if [ ${#missing[@]} = 0 ]; then
  done_ok
fi

say "installing for '$profile': ${missing[*]}"
apt_get install -y -qq --no-install-recommends "${missing[@]}"
say "installed: ${missing[*]}"
check_cmake
