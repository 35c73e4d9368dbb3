#include "levels/hlop.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
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

// The working list: levels in one array, linked by index so that a merge is
// an unlink and no level ever moves. One allocation for the whole call.
struct LevelList {
    Level* level = nullptr;
    int32_t* next = nullptr;
    int32_t* prev = nullptr;
    int32_t head = kNone;
    int32_t live = 0;
};

constexpr std::size_t kBytesPerLevel = sizeof(Level) + 2 * sizeof(int32_t);

// Orders by price, then input position. -0.0 and +0.0 compare equal and so
// keep their input order, as a stable sort would.
bool price_then_order(const Level& a, const Level& b) noexcept {
    if (a.price < b.price) return true;
    if (b.price < a.price) return false;
    return a.order < b.order;
}

// A NaN never compares greater than its neighbour, so it never moves: the
// runs between NaNs sort independently and each run sorts stably.
void sort_between_nans(Level* level, int32_t count) noexcept {
    int32_t start = 0;
    for (int32_t i = 0; i <= count; ++i) {
        if (i == count || std::isnan(level[i].price)) {
            if (i - start > 1) std::sort(level + start, level + i, price_then_order);
            start = i + 1;
        }
    }
}

double gap_after(const LevelList& list, int32_t lower) noexcept {
    return std::fabs(list.level[list.next[lower]].price - list.level[lower].price);
}

// Merges the pair (lower, lower.next) and unlinks the level that loses.
void merge_pair(LevelList& list, int32_t lower, int32_t mode) noexcept {
    const int32_t upper = list.next[lower];
    Level& lo = list.level[lower];
    Level& up = list.level[upper];
    // The heavier level survives; on equal weights the upper one does.
    const bool lower_survives = lo.weight > up.weight;
    Level& survivor = lower_survives ? lo : up;
    if (mode == 1) {
        survivor.weight = saturating_add(lo.weight, up.weight);
    } else if (mode == 2) {
        const double lw = lo.weight;
        const double uw = up.weight;
        const double sum = lw + uw;  // exact: two int32 values fit in a double
        // A zero sum has no weighted mean; the survivor keeps its own price
        // rather than becoming an infinity or a NaN.
        if (sum != 0.0) survivor.price = (lw * lo.price + uw * up.price) / sum;
        survivor.weight = saturating_add(lo.weight, up.weight);
    }
    const int32_t removed = lower_survives ? upper : lower;
    const int32_t before = list.prev[removed];
    const int32_t after = list.next[removed];
    if (before != kNone) list.next[before] = after;
    else list.head = after;
    if (after != kNone) list.prev[after] = before;
    --list.live;
}

// Repeatedly merges the closest adjacent pair, scanning the whole list each
// time. A pair wins when its gap is strictly smaller than the best so far, so
// ties go to the pair nearest the head; a NaN gap on either side of the
// comparison makes the pair the best.
void merge_by_scan(LevelList& list, double tolerance, int32_t mode) noexcept {
    while (list.live > 1) {
        int32_t best = list.head;
        double best_gap = gap_after(list, best);
        for (int32_t a = list.head; list.next[a] != kNone; a = list.next[a]) {
            const double gap = gap_after(list, a);
            if (gap < best_gap || std::isnan(gap) || std::isnan(best_gap)) {
                best = a;
                best_gap = gap;
            }
        }
        if (best_gap > tolerance) return;
        merge_pair(list, best, mode);
    }
}

}  // namespace

void merge_levels(double* prices, int32_t* weights, int32_t count, double tolerance,
                  int32_t mode) noexcept {
    if (count <= 0) return;
    // Take all working storage before touching anything, so that a failure
    // leaves the caller's arrays exactly as they were.
    if (static_cast<std::size_t>(count) > std::numeric_limits<std::size_t>::max() / kBytesPerLevel)
        return;
    void* storage = ::operator new(static_cast<std::size_t>(count) * kBytesPerLevel, std::nothrow);
    if (storage == nullptr) return;

    LevelList list;
    list.level = static_cast<Level*>(storage);
    list.next = reinterpret_cast<int32_t*>(list.level + count);
    list.prev = list.next + count;
    for (int32_t i = 0; i < count; ++i) list.level[i] = Level{prices[i], weights[i], i};
    sort_between_nans(list.level, count);
    for (int32_t i = 0; i < count; ++i) {
        list.next[i] = i + 1 < count ? i + 1 : kNone;
        list.prev[i] = i - 1;
    }
    list.head = 0;
    list.live = count;

    merge_by_scan(list, tolerance, mode);

    int32_t k = 0;
    for (int32_t a = list.head; a != kNone; a = list.next[a], ++k) {
        prices[k] = list.level[a].price;
        weights[k] = list.level[a].weight;
    }
    for (; k < count; ++k) {
        prices[k] = 0.0;
        weights[k] = 0;
    }
    ::operator delete(storage);
}

}  // namespace tidemark::levels
