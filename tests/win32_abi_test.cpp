// What only the 32-bit Windows DLL can get wrong: the export table, the
// stdcall contract (callee pops its arguments, keeps EBX/ESI/EDI), stack
// alignment at entry, and loading, unloading and host threads.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
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


std::vector<std::string> exported_names(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
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
    EXPECT_EQ(call_as_host(host::exports().check_level, args, entry_offset, 32).eax, 1u);
    Args wider;
    wider.i32(0).i32(0).f64(1.0012).f64(0.0020).ptr(levels).i32(2);
    EXPECT_EQ(call_as_host(host::exports().check_level, wider, entry_offset, 32).eax, 0u);
    Args none;
    none.i32(0).i32(0).f64(5.0).f64(0.5).ptr(levels).i32(4);
    EXPECT_EQ(call_as_host(host::exports().check_level, none, entry_offset, 32).eax, 0xffffffffu);
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
// come back in ST(0): a reading taken anywhere else would show up there as a
// NaN (empty x87 stack) or as a stale value.
void stopwatch_case(uint32_t entry_offset) {
    const auto created = call_as_host(host::exports().create_timer, Args(), entry_offset, 0);
    const uint32_t handle = created.eax;
    ASSERT_NE(handle, 0u);
    Args timer;
    timer.i32(static_cast<int32_t>(handle));
    EXPECT_NE(call_as_host(host::exports().start_timer, timer, entry_offset, 4).eax, 0u);
    Sleep(20);
    Args keep = timer;
    keep.i32(256);
    const double first = call_as_host(host::exports().stop_timer, keep, entry_offset, 8, true).st0;
    EXPECT_TRUE(std::isfinite(first)) << first;
    EXPECT_GE(first, 0.015);
    EXPECT_LT(first, 5.0);
    Args release = timer;
    release.i32(1);
    const double last = call_as_host(host::exports().stop_timer, release, entry_offset, 8, true).st0;
    EXPECT_GE(last, first);
    EXPECT_LT(last, 5.0);
    // A null handle still pops its arguments and reads 0.0.
    Args null_timer;
    null_timer.ptr(nullptr).i32(1);
    EXPECT_EQ(call_as_host(host::exports().stop_timer, null_timer, entry_offset, 8, true).st0, 0.0);
    Args null_start;
    null_start.ptr(nullptr);
    EXPECT_EQ(call_as_host(host::exports().start_timer, null_start, entry_offset, 4).eax, 0u);
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
    EXPECT_EQ(call_as_host(fractal, args, entry_offset, 20).eax, 2u);
    Args shallow;
    shallow.i32(0).i32(0).ptr(bars.data()).i32(1).i32(3);
    EXPECT_EQ(call_as_host(fractal, shallow, entry_offset, 20).eax, 1u);
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

TEST(Win32Abi, EveryExportIsStdcallAtEveryStackOffset) {
    for (const AbiCase& c : kCases) {
        for (uint32_t offset : {0u, 4u, 8u, 12u}) {
            SCOPED_TRACE(std::string(c.name) + " entered with ESP % 16 == " + std::to_string(offset));
            c.run(offset);
        }
    }
}

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
