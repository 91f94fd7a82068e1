# Cross-build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DNORVANE_QT_FREE_ONLY=ON
# Qt for Windows is not available here, so only the Qt-free parts build this way.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(NORVANE_MINGW_PREFIX x86_64-w64-mingw32)
# The -posix variants carry std::thread and std::mutex; the default (win32) ones do not.
find_program(CMAKE_CXX_COMPILER NAMES ${NORVANE_MINGW_PREFIX}-g++-posix ${NORVANE_MINGW_PREFIX}-g++
             REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${NORVANE_MINGW_PREFIX}-gcc-posix ${NORVANE_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${NORVANE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${NORVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A program run under Wine should not need the compiler's own DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
