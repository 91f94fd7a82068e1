# Cross-build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
#   the whole program, against Qt for Windows built by scripts/windows-qt (scripts/build-windows):
#     cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#           -DCMAKE_PREFIX_PATH=<that Qt's prefix>
#   only the Qt-free parts (scripts/windows-check): ... -DNORVANE_QT_FREE_ONLY=ON
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NORVANE_MINGW_PREFIX x86_64-w64-mingw32)
# The -posix variants carry std::thread and std::mutex; the default (win32) ones do not.
find_program(CMAKE_CXX_COMPILER NAMES ${NORVANE_MINGW_PREFIX}-g++-posix ${NORVANE_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${NORVANE_MINGW_PREFIX}-gcc-posix ${NORVANE_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${NORVANE_MINGW_PREFIX}-windres)

# The mingw sysroot, and the prefixes given (Qt for Windows): packages are searched only under
# these roots, never among the build machine's own Linux packages.
set(CMAKE_FIND_ROOT_PATH /usr/${NORVANE_MINGW_PREFIX} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A program run under Wine should not need the compiler's own DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
