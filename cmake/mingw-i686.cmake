# Cross build for 32-bit Windows (the product: zarerera.dll) with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZARERERA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
