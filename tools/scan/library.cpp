#include "library.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace tidemark::scan {
namespace {

using AnyFunction = void (*)();

AnyFunction find(void* handle, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<AnyFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(handle), name)));
#else
    return reinterpret_cast<AnyFunction>(dlsym(handle, name));
#endif
}

// Resolves one export; records the first name that is missing.
template <class Fn>
void resolve(void* handle, const char* name, Fn& slot, const char*& missing) {
    slot = reinterpret_cast<Fn>(find(handle, name));
    if (slot == nullptr && missing == nullptr) missing = name;
}

std::string executable_dir() {
#ifdef _WIN32
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return ".";
    std::string s(path, n);
    const auto slash = s.find_last_of("\\/");
#else
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof path) return ".";
    std::string s(path, static_cast<size_t>(n));
    const auto slash = s.find_last_of('/');
#endif
    return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}

}  // namespace

Library::~Library() {
    if (handle_ == nullptr) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
}

bool Library::open(const std::string& path, std::string& error) {
#ifdef _WIN32
    handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (handle_ == nullptr) {
        error = path + ": cannot load the library (Windows error " +
                std::to_string(GetLastError()) + ")";
        return false;
    }
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error = path + ": cannot load the library: " + (why != nullptr ? why : "unknown error");
        return false;
    }
#endif
    const char* missing = nullptr;
    resolve(handle_, "CheckLevel", exports_.check_level, missing);
    resolve(handle_, "Hlop", exports_.hlop, missing);
    resolve(handle_, "Resize", exports_.resize, missing);
    resolve(handle_, "CheckUpFractal", exports_.check_up_fractal, missing);
    resolve(handle_, "CheckDownFractal", exports_.check_down_fractal, missing);
    resolve(handle_, "CreateTimer", exports_.create_timer, missing);
    resolve(handle_, "StartTimer", exports_.start_timer, missing);
    resolve(handle_, "StopTimer", exports_.stop_timer, missing);
    if (missing != nullptr) {
        error = path + ": the library has no export named " + missing;
        return false;
    }
    return true;
}

std::string default_library_path() {
    if (const char* from_env = std::getenv("TIDEMARK_LIBRARY")) {
        if (*from_env != '\0') return from_env;
    }
#ifdef _WIN32
    return executable_dir() + "\\tidemark.dll";
#else
    return executable_dir() + "/libtidemark.so";
#endif
}

}  // namespace tidemark::scan
