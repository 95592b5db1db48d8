# What both cross toolchains share; each target's file sets TOOLS_TRIPLET
# and TOOLS_RUNTIME_DLL_NAMES and includes this.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GCC 12's win32 model has no std::mutex, which
# GoogleTest needs.
set(CMAKE_C_COMPILER   ${TOOLS_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLS_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLS_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest starts every test program through this wrapper, with the target's
# Wine loader.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ${CMAKE_SYSTEM_PROCESSOR})
