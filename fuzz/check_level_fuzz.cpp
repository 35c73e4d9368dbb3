// CheckLevel on arbitrary prices and tolerances (NaN, infinities, signed
// zeros), compared with the literal reference. The level array is exactly
// count elements long.
//
// Every call is made in a host floating-point environment drawn for the
// input (fuzz_input::host_for).
//
// Input: u8 flags, f64 price, f64 tolerance, i32 reserved1, i32 reserved2,
// then 8-byte levels.
//   flags bit 0: also call with a count <= 0 and a null array (must be -1);
//   flags bit 1: each level is its first two bytes as an int16 / 8, and the
//                price is rounded the same way, so that hits are common.
#include <cmath>
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "reference.h"
#include "tidemark.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    const auto flags = in.take<uint8_t>();
    auto price = in.take<double>();
    const auto tolerance = in.take<double>();
    const auto reserved1 = in.take<int32_t>();
    const auto reserved2 = in.take<int32_t>();
    const auto count = static_cast<int32_t>(in.records(8));
    const auto& host = fuzz_input::host_for(data, size);

    if (flags & 1) {
        int32_t negative = 0;
        int32_t lowest = 0;
        fuzz_input::as_host(host, [&] {
            negative = CheckLevel(reserved1, reserved2, price, tolerance, nullptr, -count);
        });
        fuzz_input::as_host(host, [&] {
            lowest = CheckLevel(reserved1, reserved2, price, tolerance, nullptr, INT32_MIN);
        });
        fuzz_input::check(negative == -1, "negative count found a level");
        fuzz_input::check(lowest == -1, "INT32_MIN count found a level");
    }
    std::vector<double> levels(count);
    for (double& level : levels) {
        level = in.take<double>();
        if (flags & 2) {
            int16_t grid;
            std::memcpy(&grid, &level, sizeof grid);
            level = grid / 8.0;
        }
    }
    if ((flags & 2) && std::isfinite(price)) price = std::round(price * 8.0) / 8.0;

    const std::vector<double> before = levels;
    const int32_t want = reference::check_level(price, tolerance, levels.data(), count);
    int32_t got = 0;
    fuzz_input::as_host(host, [&] {
        got = CheckLevel(reserved1, reserved2, price, tolerance, levels.data(), count);
    });
    fuzz_input::check(got == want, "index differs from reference");
    fuzz_input::check(levels.empty() ||
                          std::memcmp(before.data(), levels.data(), levels.size() * sizeof(double)) == 0,
                      "levels were written");
    return 0;
}
