// Loads tidemark the way a charting host does: by file name at run time, with
// every export looked up by its undecorated name before any work starts. The
// tests, the benchmarks and tidemark-scan all reach the library through this.
#ifndef TIDEMARK_LOADER_H
#define TIDEMARK_LOADER_H

#include <string>

#include "exports.h"

namespace tidemark::loader {

// The exports' table lives with the analysis that calls through it.
using analysis::Exports;
using analysis::kExportNames;

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
