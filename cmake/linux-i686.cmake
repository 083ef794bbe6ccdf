# 32-bit Linux build with the host compiler and -m32 (g++-multilib). The preset names
# qemu-i386-static as CMAKE_CROSSCOMPILING_EMULATOR for kernels that cannot execute 32-bit programs
# themselves; where they can, the build runs them directly (cmake/i386_native.cmake). Host packages built for 64 bits (GoogleTest, Google Benchmark)
# cannot be linked here: GoogleTest is built from its sources instead.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
