#!/usr/bin/env bash
# Cross-builds GoogleTest (from the Debian source package) for a Windows preset and installs it
# where the preset looks for it: build/windows-deps for 32-bit (the default), build/windows64-deps
# for 64-bit. Does nothing when already installed.
# Usage: build-windows-gtest.sh [i686|x86_64]
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-i686}
case "$arch" in
i686) name=windows ;;
x86_64) name=windows64 ;;
*) echo "build-windows-gtest.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
prefix=$PWD/build/$name-deps
[ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && exit 0
work=build/$name-gtest
cmake -S /usr/src/googletest -B "$work" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -Dgtest_disable_pthreads=OFF > /dev/null
cmake --build "$work" > /dev/null
cmake --install "$work" > /dev/null
