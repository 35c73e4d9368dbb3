#include "loader.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace tidemark::loader {
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

bool Library::open(const std::string& path, std::string& error) {
    close();
#ifdef _WIN32
    handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
    if (handle_ == nullptr) {
        error = path + ": cannot load the library (Windows error " + std::to_string(GetLastError()) + ")";
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
#define TIDEMARK_EXPORT_RESOLVE(name, member) resolve(handle_, #name, exports_.member, missing);
    TIDEMARK_EXPORT_TABLE(TIDEMARK_EXPORT_RESOLVE)
#undef TIDEMARK_EXPORT_RESOLVE
    if (missing != nullptr) {
        error = path + ": the library has no export named " + missing;
        return false;
    }
    return true;
}

void Library::close() {
    exports_ = Exports{};
    if (handle_ == nullptr) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
}

std::string library_path() {
    if (const char* from_env = std::getenv("TIDEMARK_LIBRARY")) {
        if (*from_env != '\0') return from_env;
    }
#ifdef _WIN32
    return executable_dir() + "\\tidemark.dll";
#else
    return executable_dir() + "/libtidemark.so";
#endif
}

}  // namespace tidemark::loader
