#!/usr/bin/env bash
# package.sh [DIR]: builds the Debian package zapfer_<version>_<arch>.deb with
# CPack in DIR (default build-package) and prints its path.
# The build has no tests and no test hooks, and takes Debian's own compiler
# and linker flags (hardening included) from dpkg-buildflags.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-build-package}
"$root/scripts/setup.sh"

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# CPPFLAGS holds _FORTIFY_SOURCE; CMake has no variable of its own for it.
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

# Build type None: those flags and nothing else, as Debian builds.
"$root/scripts/build.sh" "$dir" -DCMAKE_BUILD_TYPE=None -DZAPFER_TESTS=OFF -DZAPFER_BENCH=OFF \
    -DZAPFER_GUI=ON -DZAPFER_SANITIZE= \
    "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" >&2
rm -f "$root/$dir"/zapfer_*.deb
(cd "$root/$dir" && cpack -G DEB >&2)
ls "$root/$dir"/zapfer_*.deb
