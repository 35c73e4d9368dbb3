// Random sequences of stopwatch calls on up to eight live handles, plus null
// handles. Every handle still live at the end is released, so LeakSanitizer
// sees any stopwatch or stamp array that a release failed to free.
//
// Input: 2-byte operations (u8 op, u8 argument):
//   op % 4 == 0: CreateTimer into slot argument % 8, if that slot is free;
//   op % 4 == 1: StartTimer on that slot;
//   op % 4 == 2: StopTimer on that slot, release flag from a table by op / 4;
//   op % 4 == 3: StartTimer and StopTimer with a null handle.
// Every call is made in a host floating-point environment drawn for the
// input (fuzz_input::host_for).
#include <chrono>
#include <cmath>
#include <cstdint>

#include "fuzz_input.h"
#include "tidemark.h"

namespace {

using Clock = std::chrono::steady_clock;

// Release flags: only the low byte counts.
constexpr int32_t kRelease[] = {0, 1, 256, 257, -1, 0x7fffff00, INT32_MIN, 2};

struct Slot {
    void* handle = nullptr;
    Clock::time_point since;  // host time just before the stopwatch's start
    double last = 0.0;        // latest reading since that start
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    const auto& host = fuzz_input::host_for(data, size);
    Slot slots[8];
    for (size_t n = in.records(2); n > 0; --n) {
        const auto op = in.take<uint8_t>();
        Slot& s = slots[in.take<uint8_t>() % 8];
        switch (op % 4) {
            case 0:
                if (s.handle != nullptr) break;
                s.since = Clock::now();
                fuzz_input::as_host(host, [&] { s.handle = CreateTimer(); });
                s.last = 0.0;
                fuzz_input::check(s.handle != nullptr, "CreateTimer gave null");
                break;
            case 1: {
                if (s.handle == nullptr) break;
                s.since = Clock::now();
                int32_t started = 0;
                fuzz_input::as_host(host, [&] { started = StartTimer(s.handle); });
                fuzz_input::check(started != 0, "StartTimer failed");
                s.last = 0.0;
                break;
            }
            case 2: {
                if (s.handle == nullptr) break;
                const int32_t release = kRelease[(op / 4) % 8];
                double reading = 0.0;
                fuzz_input::as_host(host, [&] { reading = StopTimer(s.handle, release); });
                const double host = seconds(Clock::now() - s.since);
                fuzz_input::check(std::isfinite(reading) && reading >= s.last,
                                  "reading negative, not finite or went back");
                // Same monotonic clock on this platform: never more than the
                // host saw, give or take its rounding.
                fuzz_input::check(reading <= host + 1e-3, "reading longer than the host's");
                s.last = reading;
                if ((release & 0xff) != 0) s.handle = nullptr;
                break;
            }
            default: {
                int32_t started = 1;
                double reading = 1.0;
                const int32_t release = kRelease[(op / 4) % 8];
                fuzz_input::as_host(host, [&] { started = StartTimer(nullptr); });
                fuzz_input::as_host(host, [&] { reading = StopTimer(nullptr, release); });
                fuzz_input::check(started == 0, "StartTimer(null) succeeded");
                fuzz_input::check(reading == 0.0, "StopTimer(null) read time");
                break;
            }
        }
    }
    for (Slot& s : slots)
        if (s.handle != nullptr) StopTimer(s.handle, 1);
    return 0;
}
