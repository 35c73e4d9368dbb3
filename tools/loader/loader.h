// Loads tidemark the way a charting host does: by file name at run time, with
// every export looked up by its undecorated name before any work starts. The
// tests, the benchmarks and tidemark-scan all reach the library through this.
#ifndef TIDEMARK_LOADER_H
#define TIDEMARK_LOADER_H

#include <string>

#include "tidemark.h"

namespace tidemark::loader {

// The one table of the exports: each export's name and the Exports member
// that holds it. The pointer types come from the header's declarations, so
// the calling convention is always the one the library was built with.
#define TIDEMARK_EXPORT_TABLE(X)              \
    X(CheckLevel, check_level)                \
    X(Hlop, hlop)                             \
    X(Resize, resize)                         \
    X(CheckUpFractal, check_up_fractal)       \
    X(CheckDownFractal, check_down_fractal)   \
    X(CreateTimer, create_timer)              \
    X(StartTimer, start_timer)                \
    X(StopTimer, stop_timer)

struct Exports {
#define TIDEMARK_EXPORT_MEMBER(name, member) decltype(&::name) member = nullptr;
    TIDEMARK_EXPORT_TABLE(TIDEMARK_EXPORT_MEMBER)
#undef TIDEMARK_EXPORT_MEMBER
};

// The exports' names in table order.
#define TIDEMARK_EXPORT_NAME(name, member) #name,
inline constexpr const char* kExportNames[] = {TIDEMARK_EXPORT_TABLE(TIDEMARK_EXPORT_NAME)};
#undef TIDEMARK_EXPORT_NAME

// A loaded copy of the library; unloads when closed or destroyed.
class Library {
public:
    Library() = default;
    ~Library() { close(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Loads path and resolves every export. On failure returns false and sets
    // error to one line naming the file and what is wrong: the load itself,
    // or the first export the library lacks (the others stay resolved).
    bool open(const std::string& path, std::string& error);
    void close();

    bool loaded() const { return handle_ != nullptr; }
    const Exports& exports() const { return exports_; }

private:
    void* handle_ = nullptr;
    Exports exports_;
};

// The library to load when none is named: TIDEMARK_LIBRARY from the
// environment when set, else libtidemark.so (tidemark.dll on Windows) beside
// the running program, which is where the build puts both.
std::string library_path();

}  // namespace tidemark::loader

#endif
