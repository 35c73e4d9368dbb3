#include "levels/hlop.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "levels/weights.h"

namespace tidemark::levels {
namespace {

constexpr int32_t kNone = -1;

struct Level {
    double price;
    int32_t weight;
    int32_t order;  // input position: breaks price ties so the sort is stable
};

// ---------------------------------------------------------------------------
// Sorting. A NaN never compares greater than its neighbour, so in a sort by
// exchanges it never moves: the runs between NaNs sort independently, each
// stably. Long runs take an LSD radix sort, short ones a comparison sort.

constexpr int kDigitBits = 11;
constexpr int kDigits = 6;  // 6 x 11 bits cover the 64-bit key
constexpr uint32_t kBuckets = uint32_t{1} << kDigitBits;
constexpr std::size_t kCountsBytes = sizeof(uint32_t) * kDigits * kBuckets;
// Below this length clearing and summing the histograms costs more than a
// comparison sort.
constexpr int32_t kRadixMin = 1024;

// Orders by price, then input position. -0.0 and +0.0 compare equal and so
// keep their input order, as a stable sort would.
bool price_then_order(const Level& a, const Level& b) noexcept {
    if (a.price < b.price) return true;
    if (b.price < a.price) return false;
    return a.order < b.order;
}

// An unsigned key that orders as the (non-NaN) price does. Both zeros get the
// key of +0.0 so that they tie, as they compare.
inline uint64_t sort_key(double price) noexcept {
    if (price == 0.0) price = 0.0;
    uint64_t bits;
    std::memcpy(&bits, &price, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
}

inline uint32_t digit(uint64_t key, int d) noexcept {
    return static_cast<uint32_t>(key >> (d * kDigitBits)) & (kBuckets - 1);
}

// Stable: each pass scatters in input order, so equal keys keep their order.
void radix_sort(Level* run, Level* spare, int32_t count, uint32_t* counts) noexcept {
    std::fill(counts, counts + kDigits * kBuckets, 0u);
    for (int32_t i = 0; i < count; ++i) {
        const uint64_t key = sort_key(run[i].price);
        for (int d = 0; d < kDigits; ++d) ++counts[d * kBuckets + digit(key, d)];
    }
    Level* from = run;
    Level* to = spare;
    const uint32_t n = static_cast<uint32_t>(count);
    for (int d = 0; d < kDigits; ++d) {
        uint32_t* slot = counts + d * kBuckets;
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

void sort_between_nans(Level* level, Level* spare, int32_t count, uint32_t* counts) noexcept {
    int32_t start = 0;
    for (int32_t i = 0; i <= count; ++i) {
        if (i == count || std::isnan(level[i].price)) {
            const int32_t length = i - start;
            if (length >= kRadixMin && counts != nullptr)
                radix_sort(level + start, spare, length, counts);
            else if (length > 1)
                std::sort(level + start, level + i, price_then_order);
            start = i + 1;
        }
    }
}

// ---------------------------------------------------------------------------
// Merging. The closest pair is the result of a left-to-right scan over the
// adjacent pairs that replaces its best pair when
//     gap < best gap, or gap is NaN, or best gap is NaN,
// the first pair always becoming the best. A tournament tree gives the same
// answer in O(log n) per merge: each node summarises its stretch of pair
// slots as
//   - no NaN gap in the stretch: the smallest gap, nearest the head on ties
//     (what the scan keeps from the stretch whatever it arrived with, unless
//     that was a non-NaN gap no larger);
//   - a NaN gap in the stretch: what the scan ends with, which no longer
//     depends on what it arrived with, since a NaN pair always becomes best.
// Combining two neighbouring stretches composes the scan over them, so the
// root holds exactly the pair that the scan over the whole list would pick.
//
// Slot i belongs to the pair (i, next[i]) of the sorted array; it is empty
// once level i is removed or while it is the last level. Levels never move,
// so slot order is list order.

// A tree node: a slot index, with the top bit set when the stretch holds a
// NaN gap.
constexpr uint32_t kHasNaN = 0x80000000u;
constexpr uint32_t kIndex = 0x7fffffffu;
constexpr uint32_t kEmpty = kIndex;  // no slot has this index: count < 2^31

struct Merger {
    Level* level;
    double* gap;  // gap[i] = |price(next[i]) - price(i)| while slot i holds a pair
    int32_t* next;
    int32_t* prev;
    uint32_t* tree;   // tree[1] is the root, the leaves start at tree[leaves]
    uint32_t leaves;  // a power of two, at least the number of slots
    int32_t head;
    int32_t live;

    uint32_t combine(uint32_t left, uint32_t right) const noexcept {
        if (right == kEmpty) return left;
        if ((right & kHasNaN) != 0) return right;
        if (left == kEmpty) return right;
        // right has no NaN gap. The scan keeps left's pick only when its gap
        // is a number no larger than right's smallest.
        if (gap[left & kIndex] <= gap[right]) return left;
        return right | (left & kHasNaN);
    }

    // The leaf for slot i, after computing its gap.
    uint32_t pair_leaf(int32_t i) noexcept {
        const int32_t j = next[i];
        if (j == kNone) return kEmpty;
        const double g = std::fabs(level[j].price - level[i].price);
        gap[i] = g;
        return static_cast<uint32_t>(i) | (std::isnan(g) ? kHasNaN : 0u);
    }

    void set_leaf(int32_t i, uint32_t leaf) noexcept {
        uint32_t t = leaves + static_cast<uint32_t>(i);
        tree[t] = leaf;
        for (t >>= 1; t != 0; t >>= 1) tree[t] = combine(tree[2 * t], tree[2 * t + 1]);
    }

    void build(int32_t count) noexcept {
        for (int32_t i = 0; i < count; ++i) {
            next[i] = i + 1 < count ? i + 1 : kNone;
            prev[i] = i - 1;
        }
        for (int32_t i = 0; i < count; ++i) tree[leaves + i] = pair_leaf(i);
        for (uint64_t t = leaves + uint64_t(count); t < 2 * uint64_t{leaves}; ++t) tree[t] = kEmpty;
        for (uint32_t t = leaves - 1; t != 0; --t) tree[t] = combine(tree[2 * t], tree[2 * t + 1]);
        head = 0;
        live = count;
    }

    // Merges the pair (lower, lower.next), unlinks the level that loses and
    // brings the slots whose pairs changed up to date.
    void merge_pair(int32_t lower, int32_t mode) noexcept {
        const int32_t upper = next[lower];
        Level& lo = level[lower];
        Level& up = level[upper];
        // The heavier level survives; on equal weights the upper one does.
        const bool lower_survives = lo.weight > up.weight;
        Level& survivor = lower_survives ? lo : up;
        if (mode == 1) {
            survivor.weight = saturating_add(lo.weight, up.weight);
        } else if (mode == 2) {
            const double lw = lo.weight;
            const double uw = up.weight;
            const double sum = lw + uw;  // exact: two int32 values fit in a double
            // A zero sum has no weighted mean; the survivor keeps its own
            // price rather than becoming an infinity or a NaN.
            if (sum != 0.0) survivor.price = (lw * lo.price + uw * up.price) / sum;
            survivor.weight = saturating_add(lo.weight, up.weight);
        }
        // Only mode 2 moves a price, and then both pairs at the survivor change.
        const bool moved = mode == 2;
        if (lower_survives) {
            const int32_t after = next[upper];
            next[lower] = after;
            if (after != kNone) prev[after] = lower;
            set_leaf(upper, kEmpty);
            set_leaf(lower, pair_leaf(lower));
            if (moved && prev[lower] != kNone) set_leaf(prev[lower], pair_leaf(prev[lower]));
        } else {
            const int32_t before = prev[lower];
            prev[upper] = before;
            if (before != kNone) next[before] = upper;
            else head = upper;
            set_leaf(lower, kEmpty);
            if (before != kNone) set_leaf(before, pair_leaf(before));
            if (moved) set_leaf(upper, pair_leaf(upper));
        }
        --live;
    }

    void run(double tolerance, int32_t mode) noexcept {
        while (live > 1) {
            // With two levels left there is a pair, so the root is not empty.
            const int32_t best = static_cast<int32_t>(tree[1] & kIndex);
            if (gap[best] > tolerance) return;
            merge_pair(best, mode);
        }
    }
};

uint32_t power_of_two_at_least(uint32_t n) noexcept {
    uint32_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

}  // namespace

void merge_levels(double* prices, int32_t* weights, int32_t count, double tolerance,
                  int32_t mode) noexcept {
    if (count <= 0) return;
    // One block for everything, taken before touching anything so that a
    // failure leaves the caller's arrays exactly as they were:
    //   levels      count x 16
    //   spare       count x 16: the radix sort's second buffer, then the
    //               gaps (8), next (4) and prev (4) links of the merge
    //   tree        2 x leaves x 4, leaves < 2 x count
    //   histograms  for the radix sort, when a run can be long enough
    // At most 48 bytes per level, plus the fixed histograms.
    const uint32_t leaves = power_of_two_at_least(static_cast<uint32_t>(count));
    const uint64_t n = static_cast<uint64_t>(count);
    const uint64_t tree_offset = 2 * sizeof(Level) * n;
    const uint64_t counts_offset = tree_offset + 2 * sizeof(uint32_t) * uint64_t{leaves};
    const uint64_t bytes = counts_offset + (count >= kRadixMin ? kCountsBytes : 0);
    if (bytes > std::numeric_limits<std::size_t>::max()) return;
    char* storage = static_cast<char*>(::operator new(static_cast<std::size_t>(bytes), std::nothrow));
    if (storage == nullptr) return;

    Level* level = reinterpret_cast<Level*>(storage);
    Level* spare = level + count;
    uint32_t* counts =
        count >= kRadixMin ? reinterpret_cast<uint32_t*>(storage + counts_offset) : nullptr;
    for (int32_t i = 0; i < count; ++i) level[i] = Level{prices[i], weights[i], i};
    sort_between_nans(level, spare, count, counts);

    Merger merger;
    merger.level = level;
    merger.gap = reinterpret_cast<double*>(spare);
    merger.next = reinterpret_cast<int32_t*>(merger.gap + count);
    merger.prev = merger.next + count;
    merger.tree = reinterpret_cast<uint32_t*>(storage + tree_offset);
    merger.leaves = leaves;
    merger.build(count);
    merger.run(tolerance, mode);

    int32_t k = 0;
    for (int32_t a = merger.head; a != kNone; a = merger.next[a], ++k) {
        prices[k] = level[a].price;
        weights[k] = level[a].weight;
    }
    for (; k < count; ++k) {
        prices[k] = 0.0;
        weights[k] = 0;
    }
    ::operator delete(storage);
}

}  // namespace tidemark::levels
