// Allocation failure inside the library, natively: this program replaces the
// global allocation functions (the library's allocations resolve to them), so
// a test can let a given number of allocations through, fail the rest, and
// count what stays allocated. A separate program, so that the main suite
// keeps the sanitizer's own allocator checks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "host.h"

namespace {

long allowed = -1;  // allocations still allowed; -1: no limit
long live = 0;      // allocations not yet freed

void* allocate(std::size_t size) noexcept {
    if (allowed == 0) return nullptr;
    if (allowed > 0) --allowed;
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p != nullptr) ++live;
    return p;
}

void release(void* p) noexcept {
    if (p == nullptr) return;
    --live;
    std::free(p);
}

// Lets `count` allocations through and fails every later one while alive.
class FailAfter {
public:
    explicit FailAfter(long count) { allowed = count; }
    ~FailAfter() { allowed = -1; }
};

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace {

// The stopwatch takes two allocations, the object and its stamps. Whichever
// fails, CreateTimer answers null, leaves nothing allocated and throws
// nothing (an exception would end this program).
TEST(StopwatchAllocation, FailureGivesNullAndLeavesNothing) {
    const auto create = HOST_EXPORT(CreateTimer);
    const auto stop = HOST_EXPORT(StopTimer);
    ASSERT_NE(create, nullptr);
    ASSERT_NE(stop, nullptr);
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

}  // namespace
