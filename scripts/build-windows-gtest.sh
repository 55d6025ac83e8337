#!/usr/bin/env bash
# Cross-builds GoogleTest (from the Debian source package) for the windows preset and installs it
# into build/windows-deps, where the preset looks for it. Does nothing when already installed.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$PWD/build/windows-deps
[ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && exit 0
work=build/windows-gtest
cmake -S /usr/src/googletest -B "$work" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -Dgtest_disable_pthreads=OFF > /dev/null
cmake --build "$work" > /dev/null
cmake --install "$work" > /dev/null
