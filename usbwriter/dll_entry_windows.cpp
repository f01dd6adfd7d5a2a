// The DLL's entry routine. The library keeps no state between calls and starts no threads,
// so there is nothing to set up or tear down for any attach or detach.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
