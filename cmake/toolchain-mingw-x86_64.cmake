# 64-bit Windows: the same sources built for x86-64, so that the Windows backends run under
# 64-bit Wine on build machines that cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(NORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(NORVANE_WINE_NAMES wine64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
