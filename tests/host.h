// The tests reach the library the way a charting host does: load it by file
// name at run time and look every export up by its undecorated name.
#ifndef TIDEMARK_TESTS_HOST_H
#define TIDEMARK_TESTS_HOST_H

#include <string>

#include "tidemark.h"

namespace host {

using AnyFunction = void (*)();

// A loaded module; unloads on destruction.
class Library {
public:
    explicit Library(const std::string& path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    AnyFunction symbol(const char* name) const;

private:
    void* handle_;
};

// The library under test: TIDEMARK_LIBRARY from the environment, else the
// path the build compiled in ("tidemark.dll" on Windows, found beside the
// test program).
std::string library_path();

// The suite's one loaded copy of the library.
const Library& library();

template <class Fn>
Fn lookup(const char* name) {
    return reinterpret_cast<Fn>(library().symbol(name));
}

}  // namespace host

// Resolves an export by name with the exact type the header declares, calling
// convention included; null when the library lacks it.
#define HOST_EXPORT(Name) host::lookup<decltype(&::Name)>(#Name)

#endif
