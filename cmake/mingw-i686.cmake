# Cross-builds 32-bit Windows binaries with MinGW-w64 and runs them under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

# The posix thread model: GCC 12's win32 model has no std::mutex, which
# GoogleTest needs. Exceptions are DWARF-2, through the shared
# libgcc_s_dw2-1.dll and libstdc++-6.dll (which then needs libwinpthread-1.dll).
set(CMAKE_C_COMPILER   i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  i686-w64-mingw32-windres)
set(TOOLS_RUNTIME_DLL_NAMES libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest starts every test program through this wrapper, with Wine's 32-bit
# loader.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh i686)
