// Hlop on arbitrary levels, tolerances and modes, compared bit for bit with
// the literal reference. The arrays are exactly count elements long, so
// AddressSanitizer sees any access past them.
//
// Input: u8 flags, i32 mode, f64 tolerance, i32 reserved1, i32 reserved2,
// then 16-byte levels (f64 price, i32 weight, i32 tag).
//   flags bit 0: call with a count <= 0 and null arrays instead;
//   flags bit 1: each price is its first two bytes as an int16 / 8, so that
//                equal prices and equal gaps are common.
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "random_values.h"
#include "reference.h"
#include "tidemark.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    const auto flags = in.take<uint8_t>();
    const auto mode = in.take<int32_t>();
    const auto tolerance = in.take<double>();
    const auto reserved1 = in.take<int32_t>();
    const auto reserved2 = in.take<int32_t>();
    const auto count = static_cast<int32_t>(in.records(16));

    if (flags & 1) {
        Hlop(reserved1, reserved2, nullptr, nullptr, nullptr, -count, tolerance, mode);
        Hlop(reserved1, reserved2, nullptr, nullptr, nullptr, INT32_MIN, tolerance, mode);
        return 0;
    }

    std::vector<double> prices(count);
    std::vector<int32_t> weights(count);
    std::vector<int32_t> tags(count);
    for (int32_t i = 0; i < count; ++i) {
        const auto bits = in.take<double>();
        if (flags & 2) {
            int16_t grid;
            std::memcpy(&grid, &bits, sizeof grid);
            prices[i] = grid / 8.0;
        } else {
            prices[i] = bits;
        }
        weights[i] = in.take<int32_t>();
        tags[i] = in.take<int32_t>();
    }

    std::vector<double> want_prices = prices;
    std::vector<int32_t> want_weights = weights;
    const std::vector<int32_t> tags_before = tags;
    reference::hlop(want_prices.data(), want_weights.data(), tags.data(), count, tolerance, mode);
    Hlop(reserved1, reserved2, prices.data(), weights.data(), tags.data(), count, tolerance, mode);

    for (int32_t i = 0; i < count; ++i)
        fuzz_input::check(random_values::same_bits(prices[i], want_prices[i]), "price differs from reference");
    fuzz_input::check(weights == want_weights, "weight differs from reference");
    fuzz_input::check(tags == tags_before, "tags were written");
    return 0;
}
