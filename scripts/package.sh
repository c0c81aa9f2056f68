#!/usr/bin/env bash
# package.sh [DIR]: builds the Debian package zapfer_<version>_<arch>.deb with
# CPack in DIR of the checkout (default build-package) and prints its path. The build has no
# tests, and takes Debian's own compiler and linker flags (hardening included)
# from dpkg-buildflags.
# package.sh --from DIR: packages the existing build in DIR instead (the test
# suite's, say), which only has to be brought up to date.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ ${1:-} == --from ]]; then
    dir=${2:?package.sh --from DIR}
    [[ $dir == /* ]] || dir=$root/$dir
    if [[ ! -f $dir/CPackConfig.cmake ]]; then
        echo "package.sh: no configured build in $dir" >&2
        exit 1
    fi
    # Programs built with a sanitizer need its runtime: not for installing.
    if ! grep -qx 'ZAPFER_SANITIZE:STRING=' "$dir/CMakeCache.txt"; then
        echo "package.sh: $dir is a sanitizer build" >&2
        exit 1
    fi
    cmake --build "$dir" >&2
else
    relative=${1:-build-package}
    dir=$root/$relative
    "$root/scripts/setup.sh"
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    # CPPFLAGS holds _FORTIFY_SOURCE; CMake has no variable of its own for it.
    cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
    ldflags=$(dpkg-buildflags --get LDFLAGS)
    # Build type None: those flags and nothing else, as Debian builds.
    "$root/scripts/build.sh" "$relative" -DCMAKE_BUILD_TYPE=None -DZAPFER_TESTS=OFF \
        -DZAPFER_BENCH=OFF -DZAPFER_GUI=ON -DZAPFER_SANITIZE= \
        "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" >&2
fi

rm -f "$dir"/zapfer_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$dir"/zapfer_*.deb
