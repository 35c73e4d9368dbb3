#include "timing/stopwatch.h"

#include <cstdint>
#include <cstdlib>

#include "frame/float_bits.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace tidemark::timing {
namespace {

#ifdef _WIN32
bool read_counter(int64_t& now) noexcept {
    LARGE_INTEGER value;
    if (!QueryPerformanceCounter(&value)) return false;
    now = value.QuadPart;
    return true;
}

int64_t counter_frequency() noexcept {
    LARGE_INTEGER value;
    // Cannot fail on any Windows that runs this DLL (XP and later).
    value.QuadPart = 0;
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
}
#else
// Nanoseconds of the monotonic clock: never steps back, whatever happens to
// the wall clock.
bool read_counter(int64_t& now) noexcept {
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return false;
    now = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    return true;
}

int64_t counter_frequency() noexcept { return 1000000000; }
#endif

}  // namespace

void* Stopwatch::operator new(std::size_t size) noexcept { return std::malloc(size); }

void Stopwatch::operator delete(void* watch) noexcept { std::free(watch); }

Stopwatch::Stopwatch(int32_t slots) noexcept
    : stamps_(slots > 0 ? static_cast<int64_t*>(std::malloc(sizeof(int64_t) * static_cast<uint32_t>(slots)))
                        : nullptr),
      frequency_(counter_frequency()) {
    if (stamps_ == nullptr) return;
    int64_t now = 0;
    read_counter(now);
    for (int32_t i = 0; i < slots; ++i) stamps_[i] = now;
}

Stopwatch::~Stopwatch() { std::free(stamps_); }

void Stopwatch::destroy(Stopwatch* watch) noexcept {
    // The qualified call is never virtual; operator delete is the class's
    // own, a plain free that every copy shares through the C runtime.
    watch->Stopwatch::~Stopwatch();
    Stopwatch::operator delete(watch);
}

int32_t Stopwatch::Start(int32_t slot) noexcept {
    int64_t now;
    if (!read_counter(now)) return 0;
    stamps_[slot] = now;
    return 1;
}

double Stopwatch::Elapsed(int32_t slot, int32_t scale) const noexcept {
    // A failed read counts as no time passed rather than as garbage.
    int64_t now = stamps_[slot];
    read_counter(now);
    // Wrapping subtraction: a signed overflow would be undefined, and a real
    // counter never gets near it.
    const int64_t ticks = static_cast<int64_t>(static_cast<uint64_t>(now) -
                                               static_cast<uint64_t>(stamps_[slot]));
    return to_double(ticks) / to_double(frequency_) * scale;
}

void* create_timer() noexcept {
    // The class's operator new answers null rather than throwing, so the
    // constructor only runs on memory that was had.
    Stopwatch* watch = new Stopwatch(1);
    if (watch == nullptr) return nullptr;
    if (!watch->usable()) {
        Stopwatch::destroy(watch);
        // The analyzer does not follow destroy through the class's
        // operator delete, which frees the block.
        return nullptr;  // NOLINT(clang-analyzer-unix.Malloc)
    }
    return watch;
}

int32_t start_timer(void* handle) noexcept {
    if (handle == nullptr) return 0;
    return static_cast<Stopwatch*>(handle)->Start(0);
}

void stop_timer(void* handle, int32_t release, double& elapsed) noexcept {
    if (handle == nullptr) {
        elapsed = 0.0;
        return;
    }
    Stopwatch* watch = static_cast<Stopwatch*>(handle);
    elapsed = watch->Elapsed(0, 1);
    // Only the low byte decides, as hosts that pass a bool widened with
    // garbage in the upper bytes expect.
    if ((release & 0xff) != 0) Stopwatch::destroy(watch);
}

}  // namespace tidemark::timing
