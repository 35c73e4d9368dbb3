#ifndef TIDEMARK_LEVELS_HLOP_SORT_H
#define TIDEMARK_LEVELS_HLOP_SORT_H

#include <cstddef>
#include <cstdint>

namespace tidemark::levels {

// A level as the merge sorts it.
struct Level {
    double price;
    int32_t weight;
    int32_t order;  // input position: breaks price ties so the sort is stable
};

// Runs of at least kRadixMin levels take an LSD radix sort over 11-bit
// digits of a 64-bit key, which needs kCountsBytes of histograms. Below that
// length the histograms would cost more memory per level than the rest of
// the working storage, for little gain over a comparison sort.
constexpr int kDigitBits = 11;
constexpr int kDigits = 6;  // 6 x 11 bits cover the 64-bit key
constexpr uint32_t kBuckets = uint32_t{1} << kDigitBits;
constexpr std::size_t kCountsBytes = sizeof(uint32_t) * kDigits * kBuckets;
constexpr int32_t kRadixMin = 2048;

// Sorts the levels by price, ascending and stably, as a sort by exchanges
// would: a NaN never compares greater than its neighbour, so it never moves,
// and the runs between NaNs sort each on its own. spare has room for count
// levels; counts is kCountsBytes of histograms, or null when no run can be
// kRadixMin long.
void sort_between_nans(Level* level, Level* spare, int32_t count, uint32_t* counts) noexcept;

}  // namespace tidemark::levels

#endif
