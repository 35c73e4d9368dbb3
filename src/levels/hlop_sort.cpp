// The merge's sort. Long runs take an LSD radix sort, short ones a
// comparison sort; both are stable.
#include "levels/hlop_sort.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/float_bits.h"

namespace tidemark::levels {
namespace {

// Orders by price, then input position. -0.0 and +0.0 compare equal and so
// keep their input order, as a stable sort would. A type rather than a
// function, so that the sort inlines it instead of calling through a pointer.
struct PriceThenOrder {
    bool operator()(const Level& a, const Level& b) const noexcept {
        if (a.price < b.price) return true;
        if (b.price < a.price) return false;
        return a.order < b.order;
    }
};

// An unsigned key that orders as the (non-NaN) price does. Both zeros get the
// key of +0.0 so that they tie, as they compare.
inline uint64_t sort_key(double price) noexcept {
    // cppcheck-suppress duplicateConditionalAssign ; turns -0.0 into +0.0
    if (price == 0.0) price = 0.0;
    const uint64_t bits = bits_of(price);
    return (bits & kSignBit) != 0 ? ~bits : bits | kSignBit;
}

inline uint32_t digit(uint64_t key, int d) noexcept {
    return static_cast<uint32_t>(key >> (d * kDigitBits)) & (kBuckets - 1);
}

// Stable: each pass scatters in input order, so equal keys keep their order.
void radix_sort(Level* run, Level* spare, int32_t count, uint32_t* counts) noexcept {
    std::fill(counts, counts + static_cast<std::size_t>(kDigits) * kBuckets, 0u);
    for (int32_t i = 0; i < count; ++i) {
        const uint64_t key = sort_key(run[i].price);
        for (int d = 0; d < kDigits; ++d)
            ++counts[static_cast<std::size_t>(d) * kBuckets + digit(key, d)];
    }
    Level* from = run;
    Level* to = spare;
    const uint32_t n = static_cast<uint32_t>(count);
    for (int d = 0; d < kDigits; ++d) {
        uint32_t* slot = counts + static_cast<std::size_t>(d) * kBuckets;
        // A digit that every key shares would leave the order as it is.
        if (slot[digit(sort_key(from[0].price), d)] == n) continue;
        uint32_t start = 0;
        for (uint32_t b = 0; b < kBuckets; ++b) {
            const uint32_t size = slot[b];
            slot[b] = start;
            start += size;
        }
        for (int32_t i = 0; i < count; ++i) to[slot[digit(sort_key(from[i].price), d)]++] = from[i];
        std::swap(from, to);
    }
    if (from != run) std::memcpy(run, from, sizeof(Level) * n);
}

}  // namespace

void sort_between_nans(Level* level, Level* spare, int32_t count, uint32_t* counts) noexcept {
    int32_t start = 0;
    for (int32_t i = 0; i <= count; ++i) {
        if (i == count || std::isnan(level[i].price)) {
            const int32_t length = i - start;
            if (length >= kRadixMin && counts != nullptr)
                radix_sort(level + start, spare, length, counts);
            else if (length > 1)
                std::sort(level + start, level + i, PriceThenOrder{});
            start = i + 1;
        }
    }
}

}  // namespace tidemark::levels
