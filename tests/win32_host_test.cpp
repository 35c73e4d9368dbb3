// Hosts that are not tidy, each in a process of its own (ctest runs one test
// per Wine process): one that loads and unloads the DLL thousands of times
// with threads coming and going, one that already carries the MinGW runtime
// DLLs, one whose heap is exhausted (32-bit only: a 64-bit address space
// cannot be exhausted on a shared machine), one whose C runtime refuses
// every allocation to the library. Each must find the library working and
// its own TLS slots, handles and memory where they were.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "loader.h"
#include "win32_imports.h"
#include "win32_process.h"

namespace {

using tidemark::loader::Exports;
using tidemark::loader::Library;
using win32_process::Figures;

// Loads the library the suite tests; false (with the reason on stderr) when
// it cannot be loaded or lacks an export.
bool open(Library& library) {
    std::string error;
    if (library.open(tidemark::loader::library_path(), error)) return true;
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
}

// A merge with a known result and a whole stopwatch cycle; true when both
// behaved.
bool use(const Exports& e) {
    double prices[3] = {3.0, 1.0, 1.1};
    int32_t weights[3] = {1, 1, 2};
    const int32_t tags[3] = {0, 0, 0};
    e.hlop(0, 0, prices, weights, tags, 3, 0.2, 1);
    const bool merged = prices[0] == 1.1 && prices[1] == 3.0 && prices[2] == 0.0 && weights[0] == 3;
    void* timer = e.create_timer();
    const bool timed = timer != nullptr && e.start_timer(timer) != 0 && e.stop_timer(timer, 1) >= 0.0;
    return merged && timed;
}

DWORD WINAPI use_on_thread(LPVOID exports) { return use(*static_cast<const Exports*>(exports)) ? 0 : 1; }

DWORD WINAPI idle_thread(LPVOID) { return 0; }

// Starts `count` threads and waits for them; false when one could not be
// started or failed.
bool run_threads(int count, LPTHREAD_START_ROUTINE body, LPVOID argument) {
    HANDLE threads[8];
    bool ok = true;
    int started = 0;
    for (; started < count; ++started) {
        threads[started] = CreateThread(nullptr, 0, body, argument, 0, nullptr);
        if (threads[started] == nullptr) {
            ok = false;
            break;
        }
    }
    for (int i = 0; i < started; ++i) {
        DWORD code = 99;
        ok = ok && WaitForSingleObject(threads[i], 30000) == WAIT_OBJECT_0 &&
             GetExitCodeThread(threads[i], &code) && code == 0;
        CloseHandle(threads[i]);
    }
    return ok;
}

// One cycle: load, two host threads use the exports, unload, and a thread
// comes and goes while the DLL is not loaded. Returns false on any failure.
bool load_use_unload() {
    bool ok;
    {
        Library library;
        if (!open(library)) return false;
        Exports e = library.exports();
        ok = use(e) && run_threads(2, use_on_thread, &e);
    }
    ok = ok && GetModuleHandleA("tidemark.dll") == nullptr;
    return ok && run_threads(1, idle_thread, nullptr);
}

// 2,000 loads and unloads. A DLL that keeps a TLS slot per load runs a
// process out of them near the 1,087th cycle (Wine has 1,088), and the
// handles and memory it leaves behind add up where a few cycles hide them.
TEST(Win32Host, ThousandsOfLoadsWithThreadsLeaveNothing) {
    ASSERT_EQ(GetModuleHandleA("tidemark.dll"), nullptr) << "this host must start without the DLL";
    const Figures start = win32_process::figures();
    // The first cycles settle Wine's own caches (thread stacks, loader
    // bookkeeping); memory is compared from there.
    constexpr int kSettle = 20;
    constexpr int kCycles = 2000;
    int failed_at = -1;
    for (int i = 0; i < kSettle && failed_at < 0; ++i)
        if (!load_use_unload()) failed_at = i;
    const Figures settled = win32_process::figures();
    for (int i = kSettle; i < kCycles && failed_at < 0; ++i)
        if (!load_use_unload()) failed_at = i;
    const Figures end = win32_process::figures();
    EXPECT_EQ(failed_at, -1) << "cycle " << failed_at << " failed to load, use or unload the DLL";
    win32_process::print("2,000 load/use/unload cycles, 3 host threads each", start, end);
    win32_process::print("the same from cycle 20 on", settled, end);
    EXPECT_EQ(end.tls_slots_free, start.tls_slots_free);
    EXPECT_EQ(end.handles, start.handles);
    // A leak of 64 bytes a cycle would show.
    EXPECT_LT(end.committed, settled.committed + 128 * 1024)
        << "committed private " << settled.committed << " -> " << end.committed << " after settling";
}

// Makes every malloc of the loaded library fail, by pointing its import of
// msvcrt's malloc at a function that answers null, until destroyed. The
// host's own allocations are untouched.
class RefusedAllocations {
public:
    explicit RefusedAllocations(HMODULE library) : slot_(win32_imports::msvcrt_import(library, "malloc")) {
        if (slot_ != nullptr) original_ = win32_imports::exchange(slot_, reinterpret_cast<void*>(&refuse));
    }
    ~RefusedAllocations() {
        if (slot_ != nullptr) win32_imports::exchange(slot_, original_);
    }
    RefusedAllocations(const RefusedAllocations&) = delete;
    RefusedAllocations& operator=(const RefusedAllocations&) = delete;

    bool active() const { return slot_ != nullptr; }
    static long refused() { return refused_; }

private:
    static void* __cdecl refuse(std::size_t) {
        ++refused_;
        return nullptr;
    }

    static inline long refused_ = 0;
    void** slot_;
    void* original_ = nullptr;
};

// A host built with MinGW carries libgcc (libgcc_s_dw2-1.dll on 32-bit x86,
// libgcc_s_seh-1.dll on x64) and the threads runtime it needs. A DLL that
// registers its unwind tables with the host's copy and throws bad_alloc
// inside its own nothrow allocation aborts here; this one allocates with
// malloc and just leaves the arrays alone.
TEST(Win32Host, PreloadedMinGWRuntimeGetsCleanAllocationFailure) {
    HMODULE runtime = LoadLibraryExA(TIDEMARK_HOST_RUNTIME_DIR "\\" TIDEMARK_HOST_LIBGCC, nullptr,
                                     LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(runtime, nullptr) << "cannot load " TIDEMARK_HOST_RUNTIME_DIR "\\" TIDEMARK_HOST_LIBGCC;
    ASSERT_NE(GetProcAddress(runtime, "_Unwind_RaiseException"), nullptr);
    const Figures before = win32_process::figures();
    {
        Library library;
        ASSERT_TRUE(open(library));
        const Exports& e = library.exports();
#if defined(__i386__)
        // Working storage for 100,000,000 levels (about 3.5 GB) fits a
        // 32-bit size but no 32-bit process, so the allocation itself
        // fails; for INT32_MAX levels the size does not even fit. Either
        // way the call gives up before reading or writing an element.
        // (No SCOPED_TRACE here: its first use makes the host's threads
        // runtime take a handle and memory of its own.)
        for (int32_t count : {100000000, 2147483647}) {
            double prices[2] = {2.0, 1.0};
            int32_t weights[2] = {1, 2};
            const int32_t tags[2] = {0, 0};
            e.hlop(0, 0, prices, weights, tags, count, 10.0, 1);
            EXPECT_TRUE(prices[0] == 2.0 && prices[1] == 1.0 && weights[0] == 1 && weights[1] == 2)
                << count << " levels: the arrays were touched";
        }
#else
        // Any of those sizes may exist in a 64-bit address space, so the C
        // runtime refuses the library's allocations instead.
        {
            const RefusedAllocations refused(GetModuleHandleA("tidemark.dll"));
            ASSERT_TRUE(refused.active()) << "the library imports no malloc to refuse";
            double prices[3] = {3.0, 1.0, 1.1};
            int32_t weights[3] = {1, 1, 2};
            const int32_t tags[3] = {0, 0, 0};
            e.hlop(0, 0, prices, weights, tags, 3, 0.2, 1);
            void* timer = e.create_timer();
            EXPECT_EQ(RefusedAllocations::refused(), 2) << "Hlop and CreateTimer each ask for memory once";
            EXPECT_TRUE(prices[0] == 3.0 && prices[1] == 1.0 && prices[2] == 1.1 && weights[0] == 1 &&
                        weights[1] == 1 && weights[2] == 2)
                << "the arrays were touched";
            EXPECT_EQ(timer, nullptr);
        }
#endif
        EXPECT_TRUE(use(e)) << "the library does not work beside the MinGW runtime";
    }
    EXPECT_EQ(GetModuleHandleA("tidemark.dll"), nullptr);
    const Figures after = win32_process::figures();
    win32_process::print("MinGW runtime loaded; tidemark.dll loaded, used and unloaded", before, after);
    EXPECT_EQ(after.tls_slots_free, before.tls_slots_free);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_LT(after.committed, before.committed + 64 * 1024);
    FreeLibrary(runtime);
}

// A second file of the same library, so that loading it maps a second copy
// instead of counting another reference to the first.
std::string second_copy_path() {
    const std::string first = tidemark::loader::library_path();
    const std::string second = first.substr(0, first.size() - 4) + "-second.dll";
    if (!CopyFileA(first.c_str(), second.c_str(), FALSE)) return std::string();
    return second;
}

// A plug-in host reloads the library, or carries two copies, and hands a
// stopwatch that one copy made to the other. Copy A is always loaded first;
// where it goes before B is loaded, its address range is reserved so that B
// cannot land where A was and nothing of A's image stays readable. Every
// allocation of both copies is counted, whichever copy frees it.
TEST(Win32Host, StopwatchOutlivesTheCopyThatMadeIt) {
    struct ReloadCase {
        const char* what;
        bool made_by_b;
        bool read_by_b;
        bool a_unloaded;  // before B is loaded
    };
    const ReloadCase cases[] = {
        {"made by A, A unloaded, read and released by B", false, true, true},
        {"made by A, A still loaded, read and released by B", false, true, false},
        {"made by B after A was unloaded, read and released by B", true, true, true},
        {"made by B, read and released by A, both loaded", true, false, false},
    };
    const std::string second = second_copy_path();
    ASSERT_FALSE(second.empty()) << "cannot copy the library to a second file";
    for (const ReloadCase& c : cases) {
        SCOPED_TRACE(c.what);
        const long live_before = win32_imports::CountedAllocations::live();
        const long taken_before = win32_imports::CountedAllocations::taken();
        Library a;
        ASSERT_TRUE(open(a));
        const HMODULE a_module = win32_imports::module_of(reinterpret_cast<const void*>(a.exports().create_timer));
        ASSERT_NE(a_module, nullptr);
        ASSERT_TRUE(win32_imports::CountedAllocations::watch(a_module));
        void* timer = nullptr;
        if (!c.made_by_b) {
            timer = a.exports().create_timer();
            ASSERT_NE(timer, nullptr);
            EXPECT_NE(a.exports().start_timer(timer), 0);
        }
        // The layout a C++ host relies on: the first word points into the
        // image of the copy that made the stopwatch (its virtual table).
        const auto made_in = [&](HMODULE module) {
            const auto* table = *static_cast<const char* const*>(timer);
            const auto* base = reinterpret_cast<const char*>(module);
            return table >= base && table < base + win32_imports::image_size(module);
        };
        if (!c.made_by_b) {
            EXPECT_TRUE(made_in(a_module)) << "the first word is not a table in A's image";
        }
        void* reserved = nullptr;
        if (c.a_unloaded) {
            const std::size_t size = win32_imports::image_size(a_module);
            a.close();
            reserved = VirtualAlloc(a_module, size, MEM_RESERVE, PAGE_NOACCESS);
            ASSERT_EQ(reserved, static_cast<void*>(a_module)) << "A's address range could not be kept free";
        }
        Library b;
        std::string error;
        ASSERT_TRUE(b.open(second, error)) << error;
        const HMODULE b_module = win32_imports::module_of(reinterpret_cast<const void*>(b.exports().create_timer));
        ASSERT_NE(b_module, nullptr);
        EXPECT_NE(b_module, a_module) << "B was mapped where A is or was";
        ASSERT_TRUE(win32_imports::CountedAllocations::watch(b_module));
        if (c.made_by_b) {
            timer = b.exports().create_timer();
            ASSERT_NE(timer, nullptr);
            EXPECT_NE(b.exports().start_timer(timer), 0);
            EXPECT_TRUE(made_in(b_module)) << "the first word is not a table in B's image";
        }
        const Exports& reader = c.read_by_b ? b.exports() : a.exports();
        const double reading = reader.stop_timer(timer, 0);
        const double last = reader.stop_timer(timer, 1);
        EXPECT_GE(reading, 0.0);
        EXPECT_GE(last, reading);
        EXPECT_LT(last, 60.0);
        EXPECT_EQ(win32_imports::CountedAllocations::taken() - taken_before, 2)
            << "the stopwatch and its stamps were not counted";
        EXPECT_EQ(win32_imports::CountedAllocations::live(), live_before) << "the release left memory behind";
        b.close();
        a.close();
        if (reserved != nullptr) VirtualFree(reserved, 0, MEM_RELEASE);
    }
    DeleteFileA(second.c_str());
}

#if defined(__i386__)
// Blocks the host holds while its heap is exhausted, linked through their
// own first bytes so that keeping them needs no memory.
struct Hoard {
    void* head = nullptr;
    long blocks = 0;
    unsigned long long bytes = 0;

    // Takes every block of this size the heap will still give.
    void take_all(std::size_t size) {
        for (void* block; (block = std::malloc(size)) != nullptr;) {
            std::memcpy(block, &head, sizeof head);
            head = block;
            ++blocks;
            bytes += size;
        }
    }

    void release() {
        while (head != nullptr) {
            void* next;
            std::memcpy(&next, head, sizeof next);
            std::free(head);
            head = next;
        }
    }
};

// The heap is exhausted down to the smallest block: CreateTimer answers
// null and a three-level Hlop leaves its arrays as they were. Afterwards the
// host frees its memory and the library works again. Nothing between the
// exhaustion and the release may allocate (no test macros there).
TEST(Win32Host, ExhaustedHeapGetsNullTimerAndUntouchedArrays) {
    Library library;
    ASSERT_TRUE(open(library));
    const Exports& e = library.exports();
    ASSERT_TRUE(use(e));
    const Figures before = win32_process::figures();

    Hoard hoard;
    for (std::size_t size = std::size_t{64} << 20; size >= sizeof(void*); size /= 2) hoard.take_all(size);
    void* timer = e.create_timer();
    double prices[3] = {3.0, 1.0, 1.1};
    int32_t weights[3] = {1, 1, 2};
    const int32_t tags[3] = {0, 0, 0};
    e.hlop(0, 0, prices, weights, tags, 3, 0.2, 1);
    void* probe = std::malloc(16);
    const long blocks = hoard.blocks;
    const unsigned long long bytes = hoard.bytes;
    std::free(probe);
    hoard.release();

    std::printf("[ heap     ] exhausted with %ld blocks, %llu bytes\n", blocks, bytes);
    EXPECT_EQ(probe, nullptr) << "the heap was not exhausted: the test proves nothing";
    EXPECT_EQ(timer, nullptr);
    if (timer != nullptr) e.stop_timer(timer, 1);
    EXPECT_EQ(prices[0], 3.0);
    EXPECT_EQ(prices[1], 1.0);
    EXPECT_EQ(prices[2], 1.1);
    EXPECT_EQ(weights[0], 1);
    EXPECT_EQ(weights[1], 1);
    EXPECT_EQ(weights[2], 2);
    EXPECT_TRUE(use(e)) << "the library does not work once memory is back";
    const Figures after = win32_process::figures();
    win32_process::print("heap exhausted, CreateTimer and Hlop called, heap released", before, after);
    EXPECT_EQ(after.tls_slots_free, before.tls_slots_free);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_LT(after.committed, before.committed + 256 * 1024);
}

#endif

}  // namespace
