// The entry point of zarerera.dll.
//
// The C and C++ runtime start-up (msvcrt's initialisation, static constructors) runs in the entry
// the linker supplies, which then calls DllMain. The library keeps no state that needs setting up
// or tearing down and starts no threads, so every reason is answered with TRUE and nothing else
// happens here: handles an application never closed stay registered until the process ends.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
