# The project's version for C and C++ callers: include/zarerera_version.h, generated into the build
# tree from project(VERSION). Targets that show the version link zarerera_version.
configure_file(${CMAKE_CURRENT_LIST_DIR}/zarerera_version.h.in
               ${PROJECT_BINARY_DIR}/include/zarerera_version.h @ONLY)
add_library(zarerera_version INTERFACE)
target_include_directories(zarerera_version INTERFACE ${PROJECT_BINARY_DIR}/include)
