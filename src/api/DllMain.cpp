// Load and unload notifications of DLL.dll.
#ifdef _WIN32
#include <windows.h>

#include "api/Exportin.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      ru3::api::LibraryLoaded();
      break;
    case DLL_PROCESS_DETACH:
      ru3::api::LibraryUnloading();
      break;
    default:
      break;
  }
  return TRUE;
}
#endif
