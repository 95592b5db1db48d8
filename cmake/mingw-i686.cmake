# Cross-builds 32-bit Windows binaries with MinGW-w64 and runs them under Wine.
# Exceptions are DWARF-2, through the shared libgcc_s_dw2-1.dll and
# libstdc++-6.dll (which then needs libwinpthread-1.dll).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLS_TRIPLET i686-w64-mingw32)
set(TOOLS_RUNTIME_DLL_NAMES libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
