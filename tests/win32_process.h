// What a host process has that a DLL could take away for good: TLS slots,
// handles and committed memory. Windows (and Wine) only.
#ifndef TIDEMARK_TESTS_WIN32_PROCESS_H
#define TIDEMARK_TESTS_WIN32_PROCESS_H

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace win32_process {

// Committed private pages, by walking the address space (Wine reports no
// private bytes of its own).
inline SIZE_T committed_private_bytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;  // wrapped at the top of the address space
        at = next;
    }
    return total;
}

// TLS slots a host could still allocate: takes them all, then gives them
// back. A DLL that takes one per load leaves the host with none eventually,
// and then LoadLibrary fails or the process aborts.
inline long free_tls_slots() {
    std::vector<DWORD> taken;
    taken.reserve(1100);
    for (DWORD slot; (slot = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(slot);
    for (DWORD slot : taken) TlsFree(slot);
    return static_cast<long>(taken.size());
}

// Open handles. GetProcessHandleCount answers 0 under Wine, so the handle
// table is probed instead: a handle value is a multiple of 4, and the
// lowest free one is handed out first, so 16,384 probes see every handle of
// a process that has fewer.
inline long open_handles() {
    long count = 0;
    DWORD flags;
    for (uintptr_t value = 4; value < (uintptr_t{1} << 16); value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    return count;
}

struct Figures {
    long tls_slots_free;
    long handles;
    SIZE_T committed;
};

inline Figures figures() { return {free_tls_slots(), open_handles(), committed_private_bytes()}; }

inline void print(const char* what, const Figures& before, const Figures& after) {
    std::printf("[ process  ] %s: free TLS slots %ld -> %ld, open handles %ld -> %ld, "
                "committed private %lu -> %lu bytes\n",
                what, before.tls_slots_free, after.tls_slots_free, before.handles, after.handles,
                static_cast<unsigned long>(before.committed), static_cast<unsigned long>(after.committed));
}

}  // namespace win32_process

#endif
