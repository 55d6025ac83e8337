# Cross build for Windows with MinGW-w64 (posix thread model, which has std::thread and
# std::mutex) on a Linux build machine. Test programs run under Wine. Included by the 32-bit and
# the 64-bit toolchain files, which set NORVANE_MINGW_TRIPLE, CMAKE_SYSTEM_PROCESSOR and
# NORVANE_WINE_NAMES (the Wine loaders that run programs of that width, first found wins).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${NORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NORVANE_MINGW_TRIPLE}-windres)

# Windows 7 API level; the runtime (libgcc, libstdc++, winpthreads) linked in statically so that
# the modules import only system libraries.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

set(CMAKE_FIND_ROOT_PATH /usr/${NORVANE_MINGW_TRIPLE} ${NORVANE_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian keeps the 64-bit loader out of PATH, in /usr/lib/wine.
find_program(NORVANE_WINE NAMES ${NORVANE_WINE_NAMES} PATHS /usr/lib/wine)
if(NORVANE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${NORVANE_WINE})
endif()
