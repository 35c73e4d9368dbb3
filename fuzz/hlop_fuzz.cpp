// Hlop on arbitrary levels, tolerances and modes, compared bit for bit with
// the literal reference. The arrays are exactly count elements long, so
// AddressSanitizer sees any access past them.
//
// Every call is made in a host floating-point environment drawn for the
// input (fuzz_input::host_for).
//
// Input: u8 flags, i32 mode, f64 tolerance, i32 reserved1, i32 reserved2,
// then 16-byte levels (f64 price, i32 weight, i32 tag).
//   flags bit 0: call with a count <= 0 and null arrays instead;
//   flags bit 1: each price is its first two bytes as an int16 / 8, so that
//                equal prices and equal gaps are common;
//
// Built a second time as hlop_long_fuzz (TIDEMARK_FUZZ_LONG): long inputs,
// beyond what a few kilobytes can spell out, since long runs between NaNs
// sort by another path. There a u16 n and an f64 step follow the header, and
// the 2048 + n % 1024 levels repeat the given ones, the k-th repetition with
// prices moved by k x step and weights by k. Kept apart because the literal
// reference takes long over thousands of levels.
#include <cstdint>
#include <vector>

#include "fuzz_input.h"
#include "numbers.h"
#include "reference.h"
#include "tidemark.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    const auto flags = in.take<uint8_t>();
    const auto mode = in.take<int32_t>();
    const auto tolerance = in.take<double>();
    const auto reserved1 = in.take<int32_t>();
    const auto reserved2 = in.take<int32_t>();
#ifdef TIDEMARK_FUZZ_LONG
    constexpr bool long_input = true;
#else
    constexpr bool long_input = false;
#endif
    const auto long_extra = long_input ? in.take<uint16_t>() : uint16_t{0};
    const auto long_step = long_input ? in.take<double>() : 0.0;
    const auto records = static_cast<int32_t>(in.records(16));
    const int32_t count = long_input ? 2048 + long_extra % 1024 : records;
    // A long input may spell out more levels than it asks for: the rest are
    // ignored rather than written past the arrays.
    const int32_t given = records < count ? records : count;
    const auto& host = fuzz_input::host_for(data, size);

    if (flags & 1) {
        for (const int32_t empty : {-given, INT32_MIN}) {
            fuzz_input::as_host(host, [&] {
                Hlop(reserved1, reserved2, nullptr, nullptr, nullptr, empty, tolerance, mode);
            });
        }
        return 0;
    }

    std::vector<double> prices(count);
    std::vector<int32_t> weights(count);
    std::vector<int32_t> tags(count);
    for (int32_t i = 0; i < given; ++i) {
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
    if (long_input) {
        for (int32_t i = given; i < count; ++i) {
            const int32_t k = given == 0 ? i : i / given;
            const int32_t from = given == 0 ? 0 : i % given;
            prices[i] = (given == 0 ? 0.0 : prices[from]) + k * long_step;
            weights[i] = static_cast<int32_t>(static_cast<uint32_t>(given == 0 ? 0 : weights[from]) +
                                              static_cast<uint32_t>(k));
            tags[i] = i;
        }
    }

    std::vector<double> want_prices = prices;
    std::vector<int32_t> want_weights = weights;
    const std::vector<int32_t> tags_before = tags;
    reference::hlop(want_prices.data(), want_weights.data(), tags.data(), count, tolerance, mode);
    fuzz_input::as_host(host, [&] {
        Hlop(reserved1, reserved2, prices.data(), weights.data(), tags.data(), count, tolerance, mode);
    });

    for (int32_t i = 0; i < count; ++i)
        fuzz_input::check(numbers::same_bits(prices[i], want_prices[i]), "price differs from reference");
    fuzz_input::check(weights == want_weights, "weight differs from reference");
    fuzz_input::check(tags == tags_before, "tags were written");
    return 0;
}
