// What only a Windows DLL can get wrong: the export table, the calling
// convention (32-bit: stdcall, the callee pops its arguments and keeps
// EBX/ESI/EDI at any stack alignment; x64: the Microsoft convention, the
// callee keeps RBX, RBP, RDI, RSI, R12-R15, XMM6-XMM15 and RSP), and
// loading, unloading and host threads.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bar_buffer.h"
#include "host.h"
#include "win32_probe.h"

namespace {

using win32_probe::Args;
using win32_probe::call_as_host;
using win32_probe::Outcome;


std::vector<std::string> exported_names(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (dir.VirtualAddress == 0) return names;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* rvas = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.emplace_back(reinterpret_cast<const char*>(base + rvas[i]));
    EXPECT_EQ(exports->NumberOfFunctions, exports->NumberOfNames) << "an export without a name";
    return names;
}

TEST(Win32Abi, ExportsExactlyTheUndecoratedNames) {
    HMODULE module = GetModuleHandleA("tidemark.dll");
    ASSERT_NE(module, nullptr);
    std::vector<std::string> names = exported_names(module);
    std::sort(names.begin(), names.end());
    // Every export the loader resolves, and nothing else.
    std::vector<std::string> want(std::begin(tidemark::loader::kExportNames),
                                  std::end(tidemark::loader::kExportNames));
    std::sort(want.begin(), want.end());
    EXPECT_EQ(names, want);
    EXPECT_EQ(GetProcAddress(module, "DllMain"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "_Hlop@36"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "Hlop@36"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "_StopTimer@8"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "StopTimer@8"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "CheckUpFractal@20"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "CheckDownFractal@20"), nullptr);
}

// One call of each export with known arguments and result. Each runs once
// per stack offset; call_as_host checks the bytes popped and the registers.
struct AbiCase {
    const char* name;
    std::function<void(uint32_t entry_offset)> run;
};

void hlop_case(uint32_t entry_offset) {
    double prices[4] = {2.1, 5.0, 2.0, -1.0};
    int32_t weights[4] = {3, 1, 1, 9};
    const int32_t tags[4] = {7, 8, 9, 10};
    Args args;
    args.i32(123).i32(-456).ptr(prices).ptr(weights).ptr(tags).i32(3).f64(0.5).i32(2);
    call_as_host(host::exports().hlop, args, entry_offset, 36);
    EXPECT_EQ(prices[0], 2.075);
    EXPECT_EQ(prices[1], 5.0);
    EXPECT_EQ(prices[2], 0.0);
    EXPECT_EQ(prices[3], -1.0) << "wrote past count";
    EXPECT_EQ(weights[0], 4);
    EXPECT_EQ(weights[1], 1);
    EXPECT_EQ(weights[2], 0);
    EXPECT_EQ(weights[3], 9) << "wrote past count";
}

void check_level_case(uint32_t entry_offset) {
    const double levels[4] = {1.0000, 1.0010, 1.0012, 1.0012};
    Args args;
    args.i32(-9).i32(9).f64(1.0012).f64(0.0005).ptr(levels).i32(3);
    EXPECT_EQ(call_as_host(host::exports().check_level, args, entry_offset, 32).i32(), 1);
    Args wider;
    wider.i32(0).i32(0).f64(1.0012).f64(0.0020).ptr(levels).i32(2);
    EXPECT_EQ(call_as_host(host::exports().check_level, wider, entry_offset, 32).i32(), 0);
    Args none;
    none.i32(0).i32(0).f64(5.0).f64(0.5).ptr(levels).i32(4);
    EXPECT_EQ(call_as_host(host::exports().check_level, none, entry_offset, 32).i32(), -1);
}

void resize_case(uint32_t entry_offset) {
    int32_t weights[4] = {10, 20, 40, 1000};
    Args args;
    args.i32(77).i32(-77).i32(11).ptr(weights).i32(3);
    call_as_host(host::exports().resize, args, entry_offset, 20);
    EXPECT_EQ(weights[0], 3);
    EXPECT_EQ(weights[1], 6);
    EXPECT_EQ(weights[2], 13);
    EXPECT_EQ(weights[3], 1000) << "wrote past count";
}

// The whole stopwatch life cycle through the probe. StopTimer's double must
// come back in ST(0) (32-bit) or XMM0 (x64): a reading taken anywhere else
// would show up there as a NaN (empty x87 stack) or as a stale value. The
// handle is a whole pointer.
void stopwatch_case(uint32_t entry_offset) {
    const auto created = call_as_host(host::exports().create_timer, Args(), entry_offset, 0);
    const void* handle = reinterpret_cast<const void*>(created.pointer());
    ASSERT_NE(handle, nullptr);
    Args timer;
    timer.ptr(handle);
    EXPECT_NE(call_as_host(host::exports().start_timer, timer, entry_offset, 4).i32(), 0);
    Sleep(20);
    Args keep = timer;
    keep.i32(256);
    const double first = call_as_host(host::exports().stop_timer, keep, entry_offset, 8, true).real;
    EXPECT_TRUE(std::isfinite(first)) << first;
    EXPECT_GE(first, 0.015);
    EXPECT_LT(first, 5.0);
    Args release = timer;
    release.i32(1);
    const double last = call_as_host(host::exports().stop_timer, release, entry_offset, 8, true).real;
    EXPECT_GE(last, first);
    EXPECT_LT(last, 5.0);
    // A null handle still pops its arguments and reads 0.0.
    Args null_timer;
    null_timer.ptr(nullptr).i32(1);
    EXPECT_EQ(call_as_host(host::exports().stop_timer, null_timer, entry_offset, 8, true).real, 0.0);
    Args null_start;
    null_start.ptr(nullptr);
    EXPECT_EQ(call_as_host(host::exports().start_timer, null_start, entry_offset, 4).i32(), 0);
}

// Records start 4 bytes past an 8-aligned address, as a host's array may:
// the doubles of every other record are misaligned.
BarBuffer misaligned_bars(const std::vector<double>& values, bool highs) {
    BarBuffer bars(values.size(), 4);
    EXPECT_EQ(bars.address() % 8, 4u);
    for (std::size_t i = 0; i < values.size(); ++i) {
        bars.set_time(i, 1700000000);
        if (highs) bars.set_high(i, values[i]);
        else bars.set_low(i, values[i]);
    }
    return bars;
}

// The documented example of each fractal function (strength 2 at depth 3,
// 1 at depth 1), on misaligned records.
void fractal_case(decltype(&::CheckUpFractal) fractal, const std::vector<double>& values, bool highs,
                  uint32_t entry_offset) {
    const BarBuffer bars = misaligned_bars(values, highs);
    Args args;
    args.i32(-1).i32(77).ptr(bars.data()).i32(3).i32(3);
    EXPECT_EQ(call_as_host(fractal, args, entry_offset, 20).i32(), 2);
    Args shallow;
    shallow.i32(0).i32(0).ptr(bars.data()).i32(1).i32(3);
    EXPECT_EQ(call_as_host(fractal, shallow, entry_offset, 20).i32(), 1);
}

void up_fractal_case(uint32_t entry_offset) {
    fractal_case(host::exports().check_up_fractal, {1, 2, 3, 9, 4, 8, 10}, true, entry_offset);
}

void down_fractal_case(uint32_t entry_offset) {
    fractal_case(host::exports().check_down_fractal, {5, 4, 3, 1, 2, 1, 0.5}, false, entry_offset);
}

const std::vector<AbiCase> kCases = {
    {"level lookup", check_level_case},
    {"merge", hlop_case},
    {"rescale", resize_case},
    {"stopwatch", stopwatch_case},
    {"up fractal", up_fractal_case},
    {"down fractal", down_fractal_case},
};

TEST(Win32Abi, EveryExportKeepsTheCallingConventionAtEveryStackOffset) {
    for (const AbiCase& c : kCases) {
        for (uint32_t offset : win32_probe::kEntryOffsets) {
            SCOPED_TRACE(std::string(c.name) + " entered with SP % 16 == " + std::to_string(offset));
            c.run(offset);
        }
    }
}

#if defined(__x86_64__)
// A crash reporter's walk, from a fault deep inside an export out to the
// host: each frame's return address and the non-volatile registers it saved
// come from the library's unwind data (.pdata/.xdata). The walk ends when it
// reaches the probe; the probe then resumes from the unwound state as if the
// export had returned, and checks every non-volatile register and RSP, so
// wrong unwind data shows up as a clobbered register or a crash.
struct Walk {
    bool armed = false;
    uintptr_t library_begin = 0, library_end = 0, probe_begin = 0, probe_end = 0;
    uintptr_t fault_at = 0;
    int library_frames = 0;   // frames walked through inside tidemark.dll
    int without_entry = 0;    // of which had no unwind data
    bool reached_probe = false;
};
Walk walk;
constexpr DWORD64 kResumed = 0x5eed5eed5eed5eedull;

LONG CALLBACK walk_to_host(EXCEPTION_POINTERS* info) {
    if (!walk.armed || info->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION)
        return EXCEPTION_CONTINUE_SEARCH;
    walk.armed = false;
    CONTEXT context = *info->ContextRecord;
    walk.fault_at = context.Rip;
    for (int depth = 0; depth < 32; ++depth) {
        const uintptr_t rip = context.Rip;
        if (rip >= walk.probe_begin && rip < walk.probe_end) {
            walk.reached_probe = true;
            break;
        }
        if (rip < walk.library_begin || rip >= walk.library_end) break;
        ++walk.library_frames;
        DWORD64 image = 0;
        RUNTIME_FUNCTION* function = RtlLookupFunctionEntry(rip, &image, nullptr);
        if (function == nullptr) {
            ++walk.without_entry;
            // What a walker assumes without unwind data: a leaf, its return
            // address on top of the stack.
            context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
            context.Rsp += 8;
            continue;
        }
        void* handler_data = nullptr;
        DWORD64 frame = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, image, rip, function, &context, &handler_data, &frame, nullptr);
    }
    if (!walk.reached_probe) return EXCEPTION_CONTINUE_SEARCH;  // the process dies: the test fails
    context.Rax = kResumed;
    *info->ContextRecord = context;
    return EXCEPTION_CONTINUE_EXECUTION;
}

TEST(Win32Abi, EveryFaultingExportUnwindsToItsHost) {
    const auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleA("tidemark.dll"));
    ASSERT_NE(base, nullptr);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    walk.library_begin = reinterpret_cast<uintptr_t>(base);
    walk.library_end = walk.library_begin + nt->OptionalHeader.SizeOfImage;
    DWORD64 probe_image = 0;
    const RUNTIME_FUNCTION* probe =
        RtlLookupFunctionEntry(reinterpret_cast<DWORD64>(&win32_probe::tm_ms_x64_probe), &probe_image, nullptr);
    ASSERT_NE(probe, nullptr) << "the probe itself has no unwind data";
    walk.probe_begin = static_cast<uintptr_t>(probe_image + probe->BeginAddress);
    walk.probe_end = static_cast<uintptr_t>(probe_image + probe->EndAddress);

    // An address no process maps: every export that reads through its
    // pointer faults there, inside the routine it forwards to.
    const void* bad = reinterpret_cast<const void*>(uintptr_t{0x10});
    const int32_t weights[3] = {1, 1, 1};
    const int32_t tags[3] = {0, 0, 0};
    struct Fault {
        const char* name;
        const void* fn;
        Args args;
        uint32_t arg_bytes;
        bool returns_double;
    };
    const Fault faults[] = {
        {"CheckLevel", reinterpret_cast<const void*>(host::exports().check_level),
         Args().i32(0).i32(0).f64(1.0).f64(0.5).ptr(bad).i32(3), 32, false},
        {"Hlop", reinterpret_cast<const void*>(host::exports().hlop),
         Args().i32(0).i32(0).ptr(bad).ptr(weights).ptr(tags).i32(3).f64(0.5).i32(1), 36, false},
        {"Resize", reinterpret_cast<const void*>(host::exports().resize),
         Args().i32(0).i32(0).i32(11).ptr(bad).i32(3), 20, false},
        {"CheckUpFractal", reinterpret_cast<const void*>(host::exports().check_up_fractal),
         Args().i32(0).i32(0).ptr(bad).i32(3).i32(3), 20, false},
        {"CheckDownFractal", reinterpret_cast<const void*>(host::exports().check_down_fractal),
         Args().i32(0).i32(0).ptr(bad).i32(3).i32(3), 20, false},
        {"StartTimer", reinterpret_cast<const void*>(host::exports().start_timer), Args().ptr(bad), 4, false},
        {"StopTimer", reinterpret_cast<const void*>(host::exports().stop_timer), Args().ptr(bad).i32(0), 8, true},
    };
    void* handler = AddVectoredExceptionHandler(1, walk_to_host);
    ASSERT_NE(handler, nullptr);
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.name);
        walk = Walk{true, walk.library_begin, walk.library_end, walk.probe_begin, walk.probe_end};
        const Outcome out = call_as_host(f.fn, f.args, 8, f.arg_bytes, f.returns_double);
        EXPECT_EQ(out.integer, kResumed) << "the export returned without faulting: the test proves nothing";
        EXPECT_TRUE(walk.reached_probe);
        EXPECT_GE(walk.library_frames, 1);
        EXPECT_EQ(walk.without_entry, 0) << "a frame inside the library has no unwind data";
        std::printf("[ unwind   ] %-16s fault at tidemark.dll+0x%llx, %d frame(s) in the library walked to the host\n",
                    f.name, static_cast<unsigned long long>(walk.fault_at - walk.library_begin), walk.library_frames);
    }
    RemoveVectoredExceptionHandler(handler);
}
#endif

DWORD WINAPI merge_on_thread(LPVOID entry) {
    const auto hlop = reinterpret_cast<decltype(&::Hlop)>(entry);
    double prices[3] = {3.0, 1.0, 1.1};
    int32_t weights[3] = {1, 1, 2};
    const int32_t tags[3] = {0, 0, 0};
    hlop(0, 0, prices, weights, tags, 3, 0.2, 1);
    return prices[0] == 1.1 && prices[1] == 3.0 && weights[0] == 3 ? 0 : 1;
}

// A private copy of the DLL is loaded and really unloaded (the suite's own
// copy stays loaded), with host threads started and ended in between.
TEST(Win32Abi, LoadThreadsAndUnloadSucceed) {
    char dir[MAX_PATH];
    const DWORD length = GetModuleFileNameA(GetModuleHandleA("tidemark.dll"), dir, MAX_PATH);
    ASSERT_GT(length, 0u);
    std::string original(dir, length);
    const std::string copy = original.substr(0, original.find_last_of("\\/") + 1) + "tidemark-reload.dll";
    ASSERT_TRUE(CopyFileA(original.c_str(), copy.c_str(), FALSE));
    for (int round = 0; round < 3; ++round) {
        tidemark::loader::Library library;
        std::string error;
        ASSERT_TRUE(library.open(copy, error)) << error;
        const auto entry = reinterpret_cast<LPVOID>(library.exports().hlop);
        std::vector<HANDLE> threads;
        for (int i = 0; i < 4; ++i) threads.push_back(CreateThread(nullptr, 0, merge_on_thread, entry, 0, nullptr));
        for (HANDLE t : threads) {
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(WaitForSingleObject(t, 10000), WAIT_OBJECT_0);
            DWORD code = 99;
            EXPECT_TRUE(GetExitCodeThread(t, &code));
            EXPECT_EQ(code, 0u);
            CloseHandle(t);
        }
        library.close();
        EXPECT_EQ(GetModuleHandleA("tidemark-reload.dll"), nullptr) << "still loaded after FreeLibrary";
    }
    DeleteFileA(copy.c_str());
}

}  // namespace
