// The module entry point, called by the loader directly (the DLL carries no
// C runtime start-up code): accepts every notification and does no work, so
// loading, unloading and host threads never depend on library state.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/) {
    return TRUE;
}
