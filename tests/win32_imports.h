// Reaching into a loaded copy of the library from the host: the module an
// export lives in, its image's extent, and the import-table entries through
// which it calls the C runtime, so that a test can refuse or count the
// copy's allocations. Windows (and Wine) only.
#ifndef TIDEMARK_TESTS_WIN32_IMPORTS_H
#define TIDEMARK_TESTS_WIN32_IMPORTS_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace win32_imports {

// The module that holds `code` (an export of a loaded copy), or null.
inline HMODULE module_of(const void* code) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<const char*>(code), &module))
        return nullptr;
    return module;
}

inline const IMAGE_NT_HEADERS* headers(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
}

// Bytes the module's image spans from its base.
inline std::size_t image_size(HMODULE module) { return headers(module)->OptionalHeader.SizeOfImage; }

// The import address table entry through which `module` calls msvcrt's
// `function`, or null when it imports no such function by name.
inline void** msvcrt_import(HMODULE module, const char* function) {
    if (module == nullptr) return nullptr;
    auto* base = reinterpret_cast<uint8_t*>(module);
    const IMAGE_DATA_DIRECTORY& dir = headers(module)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         dir.VirtualAddress != 0 && d->Name != 0; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), "msvcrt.dll") != 0) continue;
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

// Points an import slot at `value`; returns what it pointed at.
inline void* exchange(void** slot, void* value) {
    DWORD protection = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
    void* old = *slot;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    return old;
}

// Counts the blocks that watched copies of the library take with malloc and
// give back with free, whichever copy takes a block and whichever gives it
// back. The slots are never pointed back: a copy may be unloaded before the
// count is read, and the counting functions live in the host.
class CountedAllocations {
public:
    // Starts counting the copy `module`; false when it imports no malloc or
    // free to count.
    static bool watch(HMODULE module) {
        void** take = msvcrt_import(module, "malloc");
        void** give = msvcrt_import(module, "free");
        if (take == nullptr || give == nullptr) return false;
        // Every copy imports the same msvcrt functions: keep the first seen.
        void* const counting_malloc = reinterpret_cast<void*>(&counted_malloc);
        void* const counting_free = reinterpret_cast<void*>(&counted_free);
        if (*take != counting_malloc) malloc_ = reinterpret_cast<Malloc>(exchange(take, counting_malloc));
        if (*give != counting_free) free_ = reinterpret_cast<Free>(exchange(give, counting_free));
        return true;
    }

    // Blocks taken and not given back since counting began (negative when a
    // watched copy frees what it did not take while watched).
    static long live() { return live_; }
    static long taken() { return taken_; }

private:
    using Malloc = void*(__cdecl*)(std::size_t);
    using Free = void(__cdecl*)(void*);

    static void* __cdecl counted_malloc(std::size_t size) {
        void* block = malloc_(size);
        if (block != nullptr) {
            ++live_;
            ++taken_;
        }
        return block;
    }

    static void __cdecl counted_free(void* block) {
        if (block != nullptr) --live_;
        free_(block);
    }

    static inline Malloc malloc_ = nullptr;
    static inline Free free_ = nullptr;
    static inline long live_ = 0;
    static inline long taken_ = 0;
};

}  // namespace win32_imports

#endif
