// Allocation failure inside the library, natively: this program replaces
// malloc and free (the library allocates with them, and its calls resolve to
// the program's definitions), so a test can let a given number of
// allocations through, fail the rest, and count what stays allocated. A
// separate program, built without the sanitizers, whose allocators would
// stand in the way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host.h"
#include "library_allocations.h"

// glibc's own allocator, under the names it exports for this purpose.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* p, std::size_t size);
extern "C" void __libc_free(void* p);

namespace {

long allowed = -1;  // allocations still allowed; -1: no limit
long live = 0;      // allocations not yet freed
long calls = 0;     // allocation requests so far
std::size_t largest = 0;  // the largest request so far

bool admit(std::size_t size) noexcept {
    ++calls;
    if (size > largest) largest = size;
    if (allowed == 0) return false;
    if (allowed > 0) --allowed;
    return true;
}

// Lets `count` allocations through and fails every later one while alive.
class FailAfter {
public:
    explicit FailAfter(long count) { allowed = count; }
    ~FailAfter() { allowed = -1; }
};

}  // namespace

extern "C" {
void* malloc(std::size_t size) {
    if (!admit(size)) return nullptr;
    void* p = __libc_malloc(size);
    if (p != nullptr) ++live;
    return p;
}
void* calloc(std::size_t count, std::size_t size) {
    if (!admit(count * size)) return nullptr;
    void* p = __libc_calloc(count, size);
    if (p != nullptr) ++live;
    return p;
}
// Moves an allocation or makes one; counted only when it makes one.
void* realloc(void* p, std::size_t size) {
    if (p == nullptr) return malloc(size);
    return __libc_realloc(p, size);
}
void free(void* p) {
    if (p == nullptr) return;
    --live;
    __libc_free(p);
}
}  // extern "C"

namespace library_allocations {

// Every allocation of this program counts, so the caller must make only
// library calls between two counts.
bool live_blocks(long& count) {
    count = live;
    return true;
}

}  // namespace library_allocations

namespace {

// The stopwatch takes two allocations, the object and its stamps. Whichever
// fails, CreateTimer answers null, leaves nothing allocated and throws
// nothing (an exception would end this program).
TEST(StopwatchAllocation, FailureGivesNullAndLeavesNothing) {
    const auto create = host::exports().create_timer;
    const auto stop = host::exports().stop_timer;
    for (long succeed : {0L, 1L}) {
        SCOPED_TRACE("allocations allowed: " + std::to_string(succeed));
        void* timer;
        const long before = live;
        {
            FailAfter fail(succeed);
            timer = create();
        }
        EXPECT_EQ(timer, nullptr);
        EXPECT_EQ(live, before) << "a failed CreateTimer left memory behind";
    }
    // With room for both, the stopwatch is exactly what survives the call,
    // and the release frees all of it. This also shows the library's
    // allocations really come here.
    const long before = live;
    void* timer;
    {
        FailAfter fail(2);
        timer = create();
    }
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(live, before + 2);
    EXPECT_GE(stop(timer, 1), 0.0);
    EXPECT_EQ(live, before);
}

// Hlop takes one block of working storage per call, whatever the number of
// levels and whichever way it merges, of no more than 64 bytes per level;
// when the block cannot be had it leaves the arrays exactly as they were.
TEST(HlopAllocation, OneBlockOfAtMost64BytesPerLevel) {
    const auto hlop = host::exports().hlop;
    struct Case {
        const char* name;
        int32_t mode;
        int32_t lowest_weight;  // below 1, mode 2 moves merged prices out of order
    };
    const Case cases[] = {{"mode 1", 1, 1}, {"mode 2", 2, 1}, {"mode 2, signed weights", 2, -3}};
    std::mt19937_64 rng(5);
    for (const Case& c : cases) {
        for (int32_t count : {1, 2, 100, 2047, 2048, 5000, 200000}) {
            SCOPED_TRACE(std::string(c.name) + ", count " + std::to_string(count));
            std::vector<double> prices(count);
            std::vector<int32_t> weights(count), tags(count);
            for (int32_t i = 0; i < count; ++i) {
                prices[i] = std::uniform_real_distribution<double>(0.0, 1.0)(rng);
                weights[i] = c.lowest_weight + static_cast<int32_t>(rng() % 10);
            }
            const std::vector<double> prices_before = prices;
            const std::vector<int32_t> weights_before = weights;
            {
                FailAfter fail(0);
                hlop(0, 0, prices.data(), weights.data(), tags.data(), count, 1.0 / count, c.mode);
            }
            EXPECT_EQ(prices, prices_before);
            EXPECT_EQ(weights, weights_before);

            const long calls_before = calls;
            const long live_before = live;
            largest = 0;
            hlop(0, 0, prices.data(), weights.data(), tags.data(), count, 1.0 / count, c.mode);
            EXPECT_EQ(calls - calls_before, 1);
            EXPECT_EQ(live, live_before);
            EXPECT_LE(largest, 64u * static_cast<std::size_t>(count) + 64u);
            if (count > 1) {
                EXPECT_NE(weights, weights_before) << "nothing merged: the case tests nothing";
            }
        }
    }
}

}  // namespace
