// CheckUpFractal and CheckDownFractal on arbitrary bars, at every alignment
// of the record array, compared with the literal references. Only the
// records that the caller must make readable (shift - depth ... shift +
// depth, or the centre bar alone when depth < 1) are addressable: the rest
// of the buffer is poisoned, so AddressSanitizer reports any read outside.
//
// Input: u8 flags, i32 depth, i32 shift, i32 reserved1, i32 reserved2, then
// 44-byte records as the host lays them out.
//   flags bits 0-2: byte offset of the array from an aligned address;
//   flags bit 3:    each low and high is the first byte of its field as an
//                   int8 / 4, so that equal values are common.
// depth >= 1 is folded into what the records allow, shift into the range
// that keeps the window inside the records.
//
// The shipped down fractal's trace sink discards its messages unformed. This
// target also runs the down fractal with a sink that forms every message, as
// a diagnostic build would, to show that no bar can make forming one fail or
// change the result; and it formats the centre bar's time on its own.
#include <sanitizer/asan_interface.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bars/fractal.h"
#include "fuzz_input.h"
#include "reference.h"
#include "tidemark.h"

namespace {

constexpr size_t kRecord = sizeof(BarRecord);

struct FormingTrace {
    static constexpr bool kListening = true;
    void operator()(const char* format, ...) const noexcept {
        char text[1024];
        va_list args;
        va_start(args, format);
        const int length = std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        fuzz_input::check(length >= 0 && static_cast<size_t>(length) < sizeof text,
                          "trace message could not be formed");
    }
};

void make_grid(uint8_t* record, size_t field) {
    const auto value = static_cast<int8_t>(record[field]);
    const double d = value / 4.0;
    std::memcpy(record + field, &d, sizeof d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    const auto flags = in.take<uint8_t>();
    auto depth = in.take<int32_t>();
    const auto shift_seed = in.take<uint32_t>();
    const auto reserved1 = in.take<int32_t>();
    const auto reserved2 = in.take<int32_t>();
    size_t n = in.records(kRecord);

    const size_t offset = flags & 7;
    std::vector<uint8_t> bytes(offset + (n == 0 ? 1 : n) * kRecord);
    uint8_t* first = bytes.data() + offset;
    for (size_t i = 0; i < n * kRecord; ++i) first[i] = in.take<uint8_t>();
    if (n == 0) n = 1;  // a zeroed centre bar, for depths below 1
    if (flags & 8)
        for (size_t i = 0; i < n; ++i) {
            make_grid(first + i * kRecord, 12);
            make_grid(first + i * kRecord, 20);
        }

    const auto max_depth = static_cast<int32_t>((n - 1) / 2);
    if (depth >= 1) depth = max_depth == 0 ? 0 : 1 + (depth - 1) % max_depth;
    const int32_t reach = depth > 0 ? depth : 0;
    const auto shift = static_cast<int32_t>(reach + shift_seed % (n - 2 * static_cast<size_t>(reach)));

    // Poison all but the records the call may read.
    const size_t window_begin = offset + static_cast<size_t>(shift - reach) * kRecord;
    const size_t window_end = offset + static_cast<size_t>(shift + reach + 1) * kRecord;
    ASAN_POISON_MEMORY_REGION(bytes.data(), window_begin);
    ASAN_POISON_MEMORY_REGION(bytes.data() + window_end, bytes.size() - window_end);

    const auto* bars = reinterpret_cast<const BarRecord*>(first);
    // In a host floating-point environment drawn for the input.
    const auto& host = fuzz_input::host_for(data, size);
    int32_t up = 0;
    int32_t down = 0;
    fuzz_input::as_host(host, [&] { up = CheckUpFractal(reserved1, reserved2, bars, depth, shift); });
    fuzz_input::as_host(host, [&] { down = CheckDownFractal(reserved1, reserved2, bars, depth, shift); });
    const int32_t want_up = reference::check_up_fractal(bars, depth, shift);
    const int32_t want_down = reference::check_down_fractal(bars, depth, shift);
    FormingTrace trace;
    const int32_t traced_down = tidemark::bars::check_down_fractal(bars, depth, shift, trace);
    int32_t centre_time;
    std::memcpy(&centre_time, first + static_cast<size_t>(shift) * kRecord, sizeof centre_time);

    ASAN_UNPOISON_MEMORY_REGION(bytes.data(), bytes.size());
    fuzz_input::check(up == want_up, "up fractal differs from reference");
    fuzz_input::check(down == want_down, "down fractal differs from reference");
    fuzz_input::check(traced_down == down, "forming the trace changed the down fractal");
    // The asctime layout, or a placeholder of the same shape: 24 characters
    // and a newline for every int32 time (years 1901 ... 2038).
    char when[tidemark::bars::kTimeTextSize];
    for (const int32_t time : {centre_time, static_cast<int32_t>(shift_seed)}) {
        std::memset(when, 'x', sizeof when);
        tidemark::bars::bar_time_text(time, when);
        fuzz_input::check(std::memchr(when, 0, sizeof when) != nullptr && std::strlen(when) == 25 &&
                              when[24] == '\n',
                          "time text out of layout");
    }
    fuzz_input::check(up >= 0 && up <= reach && down >= 0 && down <= reach, "strength out of 0 ... depth");
    return 0;
}
