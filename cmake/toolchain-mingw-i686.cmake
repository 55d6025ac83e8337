# 32-bit Windows, the platform of the recording servers that load the driver.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(NORVANE_MINGW_TRIPLE i686-w64-mingw32)
set(NORVANE_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
