// A host calls the DLL for weeks: a million calls must leave the process's
// memory where it was. Windows only; natively LeakSanitizer (build/sanitize
// and the fuzz targets) covers the same ground allocation by allocation.
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "host.h"
#include "win32_process.h"

namespace {

struct Usage {
    SIZE_T committed;      // committed private pages, by walking the address space
    SIZE_T private_bytes;  // the system's own count (Wine reports 0)
    SIZE_T working_set;
};

Usage usage() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    EXPECT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(),
                                     reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                     sizeof counters));
    return {win32_process::committed_private_bytes(), counters.PrivateUsage, counters.WorkingSetSize};
}

TEST(Win32Memory, MillionCallsLeaveMemoryFlat) {
    const auto hlop = host::exports().hlop;
    const auto create = host::exports().create_timer;
    const auto start = host::exports().start_timer;
    const auto stop = host::exports().stop_timer;

    // Every fourth call is a whole stopwatch cycle (create, start, read,
    // release); the others are merges that allocate and free working storage
    // and must keep giving the first call's result.
    struct Merge {
        double prices[6] = {3.0, 1.0, 1.05, 2.0, 2.02, 1.5};
        int32_t weights[6] = {1, 2, 3, 4, 5, 6};
    };
    const int32_t tags[6] = {0, 1, 2, 3, 4, 5};
    Merge first[3];
    for (int32_t mode = 0; mode < 3; ++mode)
        hlop(0, 0, first[mode].prices, first[mode].weights, tags, 6, 0.1, mode);
    ASSERT_EQ(first[1].weights[0], 5);  // 1.0 and 1.05 merged with weights 2 + 3
    long failures = 0;
    const auto calls = [&](long n) {
        for (long i = 0; i < n; ++i) {
            if (i % 4 == 3) {
                void* timer = create();
                if (timer == nullptr || start(timer) == 0 || !(stop(timer, 1) >= 0.0)) ++failures;
                continue;
            }
            const auto mode = static_cast<int32_t>(i % 3);
            Merge m;
            hlop(0, 0, m.prices, m.weights, tags, 6, 0.1, mode);
            if (std::memcmp(&m, &first[mode], sizeof m) != 0) ++failures;
        }
    };

    calls(50000);  // warm-up: heap arenas and code pages settle
    const Usage before = usage();
    constexpr long kCalls = 1000000;
    calls(kCalls);
    const Usage after = usage();

    EXPECT_EQ(failures, 0);
    // A leak of one byte per call would show as a megabyte.
    const auto grew = [](SIZE_T from, SIZE_T to) { return to > from ? to - from : SIZE_T{0}; };
    EXPECT_GT(before.committed, SIZE_T{0});
    EXPECT_LT(grew(before.committed, after.committed), SIZE_T{512 * 1024})
        << "committed private " << before.committed << " -> " << after.committed;
    EXPECT_LT(grew(before.private_bytes, after.private_bytes), SIZE_T{512 * 1024})
        << "private bytes " << before.private_bytes << " -> " << after.private_bytes;
    EXPECT_LT(grew(before.working_set, after.working_set), SIZE_T{2 * 1024 * 1024})
        << "working set " << before.working_set << " -> " << after.working_set;
    std::printf("[ memory   ] %ld calls: committed private %lu -> %lu, private bytes %lu -> %lu, "
                "working set %lu -> %lu\n",
                kCalls, static_cast<unsigned long>(before.committed),
                static_cast<unsigned long>(after.committed),
                static_cast<unsigned long>(before.private_bytes),
                static_cast<unsigned long>(after.private_bytes),
                static_cast<unsigned long>(before.working_set),
                static_cast<unsigned long>(after.working_set));
}

}  // namespace
