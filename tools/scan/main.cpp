// tidemark-scan: a command-line host for the tidemark library.
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"

#ifdef _WIN32
#include <windows.h>

#include "files.h"

// The wide entry point: the ANSI argv would turn every name its code page
// cannot encode into question marks.
int wmain(int argc, wchar_t** argv) {
    const std::vector<std::string> args = tidemark::scan::utf8_arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& arg : args) pointers.push_back(arg.c_str());
    // Everything printed is UTF-8; a console shows it as such while we run.
    const UINT console = GetConsoleOutputCP();
    if (console != 0) SetConsoleOutputCP(CP_UTF8);
    const int status = tidemark::scan::run(argc, pointers.data(), stdout, stderr);
    if (console != 0) SetConsoleOutputCP(console);
    return status;
}
#else
int main(int argc, char** argv) { return tidemark::scan::run(argc, argv, stdout, stderr); }
#endif
