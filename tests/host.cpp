#include "host.h"

#include <cstdio>
#include <cstdlib>

#ifndef TIDEMARK_HOST_NO_MAIN
#include <gtest/gtest.h>
#endif

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace host {

Library::Library(const std::string& path) {
#ifdef _WIN32
    handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

Library::~Library() {
    if (handle_ == nullptr) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

AnyFunction Library::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
#ifdef _WIN32
    return reinterpret_cast<AnyFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(handle_), name)));
#else
    return reinterpret_cast<AnyFunction>(dlsym(handle_, name));
#endif
}

std::string library_path() {
    if (const char* from_env = std::getenv("TIDEMARK_LIBRARY")) return from_env;
    return TIDEMARK_LIBRARY_DEFAULT;
}

const Library& library() {
    static const Library loaded(library_path());
    return loaded;
}

}  // namespace host

// The benchmarks share the loader but bring their own main.
#ifndef TIDEMARK_HOST_NO_MAIN
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!host::library().loaded()) {
        std::fprintf(stderr, "cannot load %s\n", host::library_path().c_str());
        return 2;
    }
    return RUN_ALL_TESTS();
}
#endif
