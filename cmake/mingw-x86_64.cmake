# Cross-builds 64-bit Windows binaries with MinGW-w64 and runs them under Wine.
# Exceptions unwind through the SEH tables, with the shared
# libgcc_s_seh-1.dll and libstdc++-6.dll.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLS_TRIPLET x86_64-w64-mingw32)
set(TOOLS_RUNTIME_DLL_NAMES libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
