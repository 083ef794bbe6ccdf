# A -m32 build on a 64-bit Linux host runs its programs through qemu-i386-static (the linux32
# preset's CMAKE_CROSSCOMPILING_EMULATOR) only where it must: a kernel that executes 32-bit x86
# code itself runs them directly, several times faster. Probed once per build tree, by building
# and starting a small program; the answer is ZARERERA_I386_RUNS_NATIVELY in the cache.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_SIZEOF_VOID_P EQUAL 4
   AND CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$"
   AND CMAKE_CROSSCOMPILING_EMULATOR MATCHES "qemu-i386")
  if(NOT DEFINED ZARERERA_I386_RUNS_NATIVELY)
    set(_probe ${CMAKE_BINARY_DIR}/i386_probe)
    try_compile(_built SOURCE_FROM_CONTENT probe.c
                "int main(void) { return sizeof(void*) == 4 ? 32 : 1; }\n"
                COPY_FILE ${_probe})
    set(_status "not built")
    if(_built)
      execute_process(COMMAND ${_probe} RESULT_VARIABLE _status OUTPUT_QUIET ERROR_QUIET)
    endif()
    if(_status EQUAL 32)
      set(_native ON)
    else()
      set(_native OFF)
    endif()
    set(ZARERERA_I386_RUNS_NATIVELY ${_native} CACHE INTERNAL "32-bit programs run without qemu")
    message(STATUS "32-bit x86 programs run natively: ${_native} (probe: ${_status})")
  endif()
  if(ZARERERA_I386_RUNS_NATIVELY)
    # For this configure only: the preset's value stays in the cache, for a tree that moves to a
    # machine without 32-bit support (reconfigure with -UZARERERA_I386_RUNS_NATIVELY there).
    set(CMAKE_CROSSCOMPILING_EMULATOR "")
  endif()
endif()
