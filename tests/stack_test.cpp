// The stack each export needs, held to the bounds that docs/exports.md
// states: a host may call from a thread or fiber with little stack. The
// stack below the caller is painted with a pattern, the export is called,
// and the deepest byte that no longer holds the pattern is how far the call
// reached (its return address, its frames and those of the system functions
// it calls, on this platform). The pattern changes from byte to byte, and
// two runs use two patterns, so that a write cannot hide by storing what
// was there (a register that last held the painter's value, say). Not in the
// sanitizer builds, whose instrumented frames are larger by design.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bar_buffer.h"
#include "host.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kInstrumented = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kInstrumented = true;
#else
constexpr bool kInstrumented = false;
#endif
#else
constexpr bool kInstrumented = false;
#endif

// How far below the caller the paint goes: well beyond every bound, and
// touched downwards, one byte after another, so that a Windows stack grows
// into it page by page through its guard page.
constexpr std::size_t kPainted = 48 * 1024;

// The painted byte `i` bytes below the caller, in run `run`.
inline uint8_t paint(std::size_t i, unsigned run) {
    return static_cast<uint8_t>((i * 151 + (i >> 8) * 37 + run * 101 + 29) & 0xff);
}

// The bytes of stack below the point of call that `call` touched, when it
// is painted first. Not inlined, and nothing but the call
// runs between the painting and the reading, so that the caller's own
// frame stays where it was.
template <class Call>
__attribute__((noinline)) std::size_t reach_of(const Call& call, unsigned run) {
    uintptr_t sp = 0;
#if defined(__x86_64__)
    __asm__ volatile("mov %%rsp, %0" : "=r"(sp));
#elif defined(__i386__)
    __asm__ volatile("mov %%esp, %0" : "=r"(sp));
#else
    return 0;
#endif
    volatile uint8_t* const top = reinterpret_cast<volatile uint8_t*>(sp);
    for (std::size_t i = 1; i <= kPainted; ++i) top[-static_cast<std::ptrdiff_t>(i)] = paint(i, run);
    call();
    std::size_t depth = kPainted;
    while (depth > 0 && top[-static_cast<std::ptrdiff_t>(depth)] == paint(depth, run)) --depth;
    return depth;
}

// The deepest reach of `call` over both runs, `prepare` (not measured)
// run before each.
std::size_t deepest(const std::function<void()>& prepare, const std::function<void()>& call) {
    std::size_t most = 0;
    for (unsigned run : {0u, 1u}) {
        prepare();
        const std::size_t reach = reach_of([&] { call(); }, run);
        most = reach > most ? reach : most;
    }
    return most;
}

// The stated bounds, in bytes, for both DLLs (docs/exports.md); the
// native library needs less. What the library calls in the system
// (malloc, free, the counter) counts too, as Wine implements it.
struct Bound {
    const char* export_name;
    std::size_t bytes;
};

constexpr Bound kBounds[] = {
    {"CheckLevel", 1024},     {"Hlop", 1536},        {"Resize", 512},    {"CheckUpFractal", 256},
    {"CheckDownFractal", 256}, {"CreateTimer", 1024}, {"StartTimer", 512}, {"StopTimer", 1024},
};

TEST(Stack, EveryExportStaysWithinItsStatedBound) {
    if (kInstrumented) GTEST_SKIP() << "sanitizer frames are larger by design";
    const auto& x = host::exports();
    // Inputs that take every path of each export: for CheckLevel the bits
    // and the guarded floating-point scan; for Hlop the sweep, the regions,
    // the tree, and the radix sort.
    std::mt19937_64 rng(29);
    std::uniform_real_distribution<double> uniform(0.0, 100.0);
    std::vector<double> scattered(5000);
    for (double& price : scattered) price = uniform(rng);
    std::vector<int32_t> positive(scattered.size());
    std::vector<int32_t> signed_weights(scattered.size());
    for (std::size_t i = 0; i < positive.size(); ++i) {
        positive[i] = static_cast<int32_t>(rng() % 9) + 1;
        signed_weights[i] = static_cast<int32_t>(rng() % 13) - 3;
    }
    const std::vector<int32_t> tags(scattered.size(), 0);
    BarBuffer bars(200, 0);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        bars.set_high(i, 100.0 + static_cast<double>(i % 7));
        bars.set_low(i, 90.0 - static_cast<double>(i % 5));
    }
    // The arrays a call works on, filled by its preparation, so that the
    // measured call is the export's alone.
    std::vector<double> prices(scattered.size());
    std::vector<int32_t> weights(scattered.size());
    // CreateTimer's three calls fill the first three slots, StopTimer's
    // three releases empty them; the last slot's is started and read.
    void* timers[8] = {};
    int made = 0;
    int released = 0;
    for (int i = 3; i < 8; ++i) timers[i] = x.create_timer();

    struct Probe {
        const char* export_name;
        const char* what;
        std::function<void()> prepare;
        std::function<void()> call;
    };
    const auto levels = [&](const std::vector<int32_t>& from, bool with_nan) {
        return [&, with_nan] {
            prices = scattered;
            weights = from;
            if (with_nan) prices[prices.size() / 2] = std::numeric_limits<double>::quiet_NaN();
        };
    };
    const auto merge = [&](int32_t n, double tolerance, int32_t mode) {
        return [&, n, tolerance, mode] {
            x.hlop(0, 0, prices.data(), weights.data(), tags.data(), n, tolerance, mode);
        };
    };
    const std::function<void()> nothing = [] {};
    const std::vector<Probe> probes = {
        {"CheckLevel", "8 levels, on bits", nothing, [&] { x.check_level(0, 0, 50.0, 1e-9, scattered.data(), 8); }},
        {"CheckLevel", "5000 levels, guarded", nothing,
         [&] { x.check_level(0, 0, 50.0, 1e-9, scattered.data(), 5000); }},
        {"CheckLevel", "8 levels, infinite price, guarded", nothing,
         [&] { x.check_level(0, 0, std::numeric_limits<double>::infinity(), 0.5, scattered.data(), 8); }},
        {"Hlop", "1 level", levels(positive, false), merge(1, 0.01, 1)},
        {"Hlop", "100 levels, the sweep", levels(positive, false), merge(100, 0.5, 1)},
        {"Hlop", "100 levels, signed weights in mode 2: regions", levels(signed_weights, false), merge(100, 0.5, 2)},
        {"Hlop", "100 levels with a NaN: the tree", levels(positive, true), merge(100, 0.5, 2)},
        {"Hlop", "5000 levels, radix sort and regions", levels(signed_weights, false), merge(5000, 0.01, 2)},
        {"Hlop", "5000 levels with a NaN: the tree", levels(positive, true), merge(5000, 0.01, 1)},
        {"Resize", "5000 weights", levels(positive, false), [&] { x.resize(0, 0, 11, weights.data(), 5000); }},
        {"CheckUpFractal", "depth 50", nothing, [&] { x.check_up_fractal(0, 0, bars.data(), 50, 100); }},
        {"CheckDownFractal", "depth 50", nothing, [&] { x.check_down_fractal(0, 0, bars.data(), 50, 100); }},
        {"CreateTimer", "", nothing, [&] { timers[made++] = x.create_timer(); }},
        {"StartTimer", "", nothing, [&] { x.start_timer(timers[7]); }},
        {"StopTimer", "reading", nothing, [&] { x.stop_timer(timers[7], 0); }},
        {"StopTimer", "release", nothing, [&] { x.stop_timer(timers[released++], 1); }},
    };
    for (const Probe& probe : probes) {
        const Bound* bound = nullptr;
        for (const Bound& b : kBounds)
            if (std::string(b.export_name) == probe.export_name) bound = &b;
        ASSERT_NE(bound, nullptr) << probe.export_name;
        // Once unmeasured: a first call may set up things in the system
        // that later calls reuse.
        probe.prepare();
        probe.call();
        const std::size_t used = deepest(probe.prepare, probe.call);
        std::printf("[ stack    ] %-16s %-48s %5zu bytes (bound %zu)\n", probe.export_name, probe.what, used,
                    bound->bytes);
        EXPECT_LE(used, bound->bytes) << probe.export_name << ", " << probe.what;
        EXPECT_GT(used, 0u) << probe.export_name << ": the probe saw no call at all";
    }
    for (int i = released; i < 8; ++i) x.stop_timer(timers[i], 1);
}

}  // namespace
