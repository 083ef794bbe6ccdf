# Cross build for 64-bit Windows with MinGW-w64. Its programs run under wine64 on Linux; a
# CMAKE_CROSSCOMPILING_EMULATOR set by the preset runs them for CTest.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZARERERA_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
