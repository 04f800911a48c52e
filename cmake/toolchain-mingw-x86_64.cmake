# Cross toolchain: mingw-w64 x86_64 with posix threads, static runtime.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${TW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${TW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TW_TRIPLET} ${CMAKE_CURRENT_LIST_DIR}/../.deps/${TW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Windows test programs run under the 64-bit Wine loader through a wrapper that
# points Wine at the build tree's private prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/support/wine-run)
