/* A program built the way Microsoft's tools build one, linked against the
   MSVC-style import library tidemark.lib: no C runtime, the exports called
   by their declared names (on 32-bit x86 the stdcall symbols _Hlop@36 and so
   on), which the import library must map to the undecorated exports of
   tidemark.dll at load time. Exits 0 when every call gave the known result.
   Built by check_zip.sh with clang and lld-link. */
#include "tidemark.h"

typedef unsigned long DWORD;
__declspec(dllimport) void* __stdcall GetStdHandle(DWORD which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, DWORD size, DWORD* written,
                                              void* overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned code);

/* The Microsoft C compiler's marker that a program uses floating point. */
int _fltused;

static void say(const char* text) {
    DWORD length = 0, written = 0;
    while (text[length] != '\0') ++length;
    WriteFile(GetStdHandle((DWORD)-11), text, length, &written, 0);
}

void start(void) {
    double prices[3] = {2.0, 2.1, 5.0};
    int32_t weights[3] = {1, 3, 1};
    const int32_t tags[3] = {7, 8, 9};
    void* timer;
    double off;
    int ok;

    Hlop(0, 0, prices, weights, tags, 3, 0.5, 2);
    off = prices[0] - 2.075;
    ok = off < 1e-12 && off > -1e-12 && weights[0] == 4 && prices[1] == 5.0 && weights[2] == 0;
    ok = ok && CheckLevel(0, 0, 5.0, 0.1, prices, 2) == 1;
    timer = CreateTimer();
    ok = ok && timer != 0 && StartTimer(timer) != 0 && StopTimer(timer, 1) >= 0.0;
    say(ok ? "tidemark.lib: Hlop, CheckLevel and the stopwatch found and working\r\n"
           : "tidemark.lib: wrong results\r\n");
    ExitProcess(ok ? 0 : 1);
}
