/*
 * Loading tidemark.dll at run time, as a charting host does: LoadLibraryA,
 * then GetProcAddress by the undecorated export name, then a call through
 * the header's function-pointer type (PFN_Hlop, ...), whose calling
 * convention is stdcall on 32-bit Windows and the x64 one on 64-bit Windows.
 *
 * Build for the DLL's width, with tidemark.h beside this file or on the
 * include path:
 *   i686-w64-mingw32-gcc -msse2 -mfpmath=sse load_dll.c -o load_dll.exe    (x86)
 *   x86_64-w64-mingw32-gcc load_dll.c -o load_dll.exe                      (x64)
 *   cl /W4 load_dll.c                                   (either, MSVC prompt)
 * and run it with that tidemark.dll in the same folder.
 */
#include <stdio.h>
#include <windows.h>

#include "tidemark.h"

int main(void) {
    double prices[3] = {1.0, 1.1, 3.0};
    int32_t weights[3] = {5, 2, 1};
    const int32_t tags[3] = {100, 101, 102};
    HMODULE dll = LoadLibraryA("tidemark.dll");
    PFN_Hlop hlop;
    PFN_CheckLevel check_level;
    int32_t i, at;

    if (dll == NULL) {
        fprintf(stderr, "cannot load tidemark.dll (error %lu)\n", (unsigned long)GetLastError());
        return 1;
    }
    /* GetProcAddress returns a generic function pointer: cast it to the
       export's real type, calling convention included. */
    hlop = (PFN_Hlop)(void (*)(void))GetProcAddress(dll, "Hlop");
    check_level = (PFN_CheckLevel)(void (*)(void))GetProcAddress(dll, "CheckLevel");
    if (hlop == NULL || check_level == NULL) {
        fprintf(stderr, "tidemark.dll lacks Hlop or CheckLevel\n");
        FreeLibrary(dll);
        return 1;
    }

    /* Merge levels closer than 0.2; mode 1 adds the weights of merged levels. */
    hlop(0, 0, prices, weights, tags, 3, 0.2, 1);
    for (i = 0; i < 3; ++i) printf("level %d: price %.2f, weight %d\n", (int)i, prices[i], (int)weights[i]);

    /* Which merged level, if any, lies within 0.1 of the price 2.95? */
    at = check_level(0, 0, 2.95, 0.1, prices, 2);
    printf("2.95 is at level %d\n", (int)at);

    FreeLibrary(dll);
    return 0;
}
