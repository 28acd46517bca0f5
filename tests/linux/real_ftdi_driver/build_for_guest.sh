#!/usr/bin/env bash
# Builds the program for a QEMU guest of another architecture with Debian's
# cross compiler, as the arm64 and armhf presets do (warnings as errors,
# hardened, no tests), and installs it stripped into BUILD_FOLDER/staged.
#
#   build_for_guest.sh SOURCE_FOLDER ARCHITECTURE BUILD_FOLDER
#
# ARCHITECTURE is Debian's name: arm64 or ppc64el. Exit 77 (skipped) when
# the cross compiler is missing, except under CI, where that is a failure.
set -euo pipefail
source=$1 architecture=$2 build=$3
case $architecture in
arm64) triplet=aarch64-linux-gnu ;;
ppc64el) triplet=powerpc64le-linux-gnu ;;
*) echo "no cross build for $architecture"; exit 1 ;;
esac
if ! command -v "$triplet-g++" > /dev/null; then
    echo "SKIPPED: $triplet-g++ is not installed (Debian: g++-$triplet)"
    [ -n "${CI:-}" ] && exit 1
    exit 77
fi
mkdir -p "$build"
log=$build/build.log
if ! { cmake -S "$source" -B "$build" -G Ninja --toolchain "$source/cmake/$triplet.cmake" \
           -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINE_TRANSMITTER_WERROR=ON -DBUILD_TESTING=OFF &&
       cmake --build "$build" &&
       cmake --install "$build" --strip --prefix "$build/staged"; } > "$log" 2>&1; then
    cat "$log"
    exit 1
fi
file "$build/staged/bin/line-transmitter"
