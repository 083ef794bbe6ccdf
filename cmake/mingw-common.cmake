# Shared part of the MinGW-w64 toolchain files: the caller sets ZARERERA_MINGW_TRIPLE first.
#
# The -posix thread variants of the compilers are used: their C++ runtime has std::thread and
# std::mutex, which GoogleTest and the hosted device channel need. Everything is linked -static so
# that a program or the DLL imports only system DLLs (KERNEL32, msvcrt) and runs without the MinGW
# runtime DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${ZARERERA_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZARERERA_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZARERERA_MINGW_TRIPLE}-windres)
find_program(CMAKE_OBJDUMP NAMES ${ZARERERA_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZARERERA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
