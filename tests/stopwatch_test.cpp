#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "host.h"
#include "library_allocations.h"
#include "numbers.h"

namespace {

using numbers::kMin;

// Sleeps that the host's clock calls 50 ms; readings are only ever compared
// with loose bounds, so a loaded machine cannot make a test fail.
constexpr double kSleepFloor = 0.04;
constexpr double kCeiling = 5.0;

void sleep_50ms() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

TEST(Stopwatch, ReadingsWithoutRestartNeverDecrease) {
    const auto& x = host::exports();
    void* timer = x.create_timer();
    ASSERT_NE(timer, nullptr);
    // Before any start the stopwatch measures from its creation.
    const double unstarted = x.stop_timer(timer, 0);
    EXPECT_GE(unstarted, 0.0);
    EXPECT_LT(unstarted, kCeiling);
    EXPECT_NE(x.start_timer(timer), 0);
    double previous = 0.0;
    for (int i = 0; i < 1000; ++i) {
        const double reading = x.stop_timer(timer, 0);
        ASSERT_TRUE(std::isfinite(reading));
        ASSERT_GE(reading, previous) << "reading " << i;
        previous = reading;
    }
    EXPECT_LT(previous, kCeiling);
    const double last = x.stop_timer(timer, 1);
    EXPECT_GE(last, previous);
    EXPECT_LT(last, kCeiling);
}

TEST(Stopwatch, ReadingAfterSleepIsInSeconds) {
    const auto& x = host::exports();
    void* timer = x.create_timer();
    ASSERT_NE(timer, nullptr);
    EXPECT_NE(x.start_timer(timer), 0);
    sleep_50ms();
    const double elapsed = x.stop_timer(timer, 1);
    EXPECT_GE(elapsed, kSleepFloor);
    EXPECT_LT(elapsed, kCeiling);
}

// Two stopwatches started together; one is restarted after a sleep. However
// slowly the machine runs, the restarted one then reads at least the sleep
// less than the other, because it starts later and is read first.
TEST(Stopwatch, RestartMeasuresFromTheNewStart) {
    const auto& x = host::exports();
    void* kept = x.create_timer();
    void* restarted = x.create_timer();
    ASSERT_NE(kept, nullptr);
    ASSERT_NE(restarted, nullptr);
    EXPECT_NE(kept, restarted);
    EXPECT_NE(x.start_timer(kept), 0);
    EXPECT_NE(x.start_timer(restarted), 0);
    sleep_50ms();
    EXPECT_NE(x.start_timer(restarted), 0);
    const double short_reading = x.stop_timer(restarted, 1);
    const double long_reading = x.stop_timer(kept, 1);
    EXPECT_GE(short_reading, 0.0);
    EXPECT_GE(long_reading, kSleepFloor);
    EXPECT_GE(long_reading - short_reading, kSleepFloor);
    EXPECT_LT(long_reading, kCeiling);
}

// Only the low byte of release decides. Where the program counts the
// library's allocations (library_allocations.h) the release must give back
// everything the stopwatch took, and a kept one must still hold it; where it
// cannot, a stopwatch that was wrongly freed is used after free below
// (caught by AddressSanitizer) and one that was wrongly kept leaks (caught
// by LeakSanitizer at exit). 0x80 and 0x180 catch a release that tests only
// the low seven bits.
TEST(Stopwatch, LowByteOfReleaseDecides) {
    struct ReleaseCase {
        int32_t release;
        bool frees;
    };
    const ReleaseCase cases[] = {
        {0, false},   {256, false},      {0x7fffff00, false}, {kMin, false},    {-256, false},
        {1, true},    {255, true},       {257, true},         {-1, true},       {kMin + 1, true},
        {0x80, true}, {0x180, true},     {0x12345678, true},
    };
    const auto& x = host::exports();
    long live = 0;
    const bool counted = library_allocations::live_blocks(live);
    for (const ReleaseCase& c : cases) {
        SCOPED_TRACE("release " + std::to_string(c.release));
        // Only library calls between the counts: the checks come after.
        long before = 0;
        long held = 0;
        long after = 0;
        library_allocations::live_blocks(before);
        void* timer = x.create_timer();
        library_allocations::live_blocks(held);
        const int32_t started = timer != nullptr ? x.start_timer(timer) : 0;
        const double first = timer != nullptr ? x.stop_timer(timer, c.release) : -1.0;
        library_allocations::live_blocks(after);
        ASSERT_NE(timer, nullptr);
        EXPECT_NE(started, 0);
        EXPECT_GE(first, 0.0);
        EXPECT_LT(first, kCeiling);
        if (counted) {
            EXPECT_GT(held, before) << "the stopwatch's memory was not counted";
            EXPECT_EQ(after, c.frees ? before : held) << (c.frees ? "not freed" : "freed");
        }
        if (c.frees) continue;
        // Still usable: restart, read, and finally free it.
        EXPECT_NE(x.start_timer(timer), 0);
        const double second = x.stop_timer(timer, 0);
        EXPECT_GE(second, 0.0);
        EXPECT_LT(second, kCeiling);
        EXPECT_GE(x.stop_timer(timer, 1), second);
        library_allocations::live_blocks(after);
        if (counted) {
            EXPECT_EQ(after, before) << "the final release left memory behind";
        }
    }
    if (!counted) std::printf("[ stopwatch] no allocation count here; the sanitizers check the releases\n");
}

// Under LeakSanitizer (the sanitizer build) any stopwatch left behind fails
// the run at exit.
TEST(Stopwatch, ManyCyclesReleaseEverything) {
    const auto& x = host::exports();
    constexpr long kCycles = 100000;
    long failures = 0;
    for (long i = 0; i < kCycles; ++i) {
        void* timer = x.create_timer();
        if (timer == nullptr || x.start_timer(timer) == 0) {
            ++failures;
            if (timer) x.stop_timer(timer, 1);
            continue;
        }
        const double reading = x.stop_timer(timer, 1);
        if (!(reading >= 0.0 && reading < kCeiling)) ++failures;
    }
    EXPECT_EQ(failures, 0);
}

// A host that passes on the null of a failed CreateTimer must not crash.
TEST(Stopwatch, NullHandleIsHarmless) {
    const auto& x = host::exports();
    EXPECT_EQ(x.start_timer(nullptr), 0);
    for (int32_t release : {0, 1, 256, -1}) {
        const double reading = x.stop_timer(nullptr, release);
        EXPECT_EQ(reading, 0.0);
        EXPECT_FALSE(std::signbit(reading));
    }
}

}  // namespace
