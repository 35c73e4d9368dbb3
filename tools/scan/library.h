// Loads tidemark the way a charting host does: by file name at run time, with
// every export looked up by its undecorated name before any work starts.
#ifndef TIDEMARK_SCAN_LIBRARY_H
#define TIDEMARK_SCAN_LIBRARY_H

#include <string>

#include "tidemark.h"

namespace tidemark::scan {

// The eight exports, each with the exact type the header declares (calling
// convention included).
struct Exports {
    decltype(&::CheckLevel) check_level = nullptr;
    decltype(&::Hlop) hlop = nullptr;
    decltype(&::Resize) resize = nullptr;
    decltype(&::CheckUpFractal) check_up_fractal = nullptr;
    decltype(&::CheckDownFractal) check_down_fractal = nullptr;
    decltype(&::CreateTimer) create_timer = nullptr;
    decltype(&::StartTimer) start_timer = nullptr;
    decltype(&::StopTimer) stop_timer = nullptr;
};

class Library {
public:
    Library() = default;
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Loads path and resolves every export. On failure returns false and sets
    // error to one line naming the file and, if the load worked, the first
    // missing export.
    bool open(const std::string& path, std::string& error);
    const Exports& exports() const { return exports_; }

private:
    void* handle_ = nullptr;
    Exports exports_;
};

// Where the host looks for the library when not told: TIDEMARK_LIBRARY from
// the environment, else libtidemark.so (tidemark.dll on Windows) beside the
// host's own executable.
std::string default_library_path();

}  // namespace tidemark::scan

#endif
