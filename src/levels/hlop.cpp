// The merge: the levels go into one block of working storage, are sorted
// (hlop_sort.cpp), merged by a sweep where that gives the closest-pair-first
// result, region by region where mode 2 moves prices outside their pairs,
// and by a tournament tree everywhere else, and written back.
#include "levels/hlop.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "frame/float_bits.h"
#include "levels/hlop_sort.h"

namespace tidemark::levels {
namespace {

constexpr int32_t kNone = -1;

// Weight sums saturate at the int32 limits: a wrapped sum would turn the
// heaviest level into the lightest.
inline int32_t saturating_add(int32_t a, int32_t b) noexcept {
    const int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (sum < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(sum);
}

// The merge of a pair, whichever way the pair is held: the heavier level
// survives, on equal weights the upper one.
inline bool lower_survives(int32_t lower_weight, int32_t upper_weight) noexcept {
    return lower_weight > upper_weight;
}

// The survivor's price after merging a pair in mode 2.
inline double mean_price(double lower_price, int32_t lower_weight, double upper_price,
                         int32_t upper_weight) noexcept {
    const double lw = lower_weight;
    const double uw = upper_weight;
    const double sum = lw + uw;  // exact: two int32 values fit in a double
    // A zero sum has no weighted mean; the survivor keeps its own price
    // rather than becoming an infinity or a NaN.
    if (sum == 0.0) return lower_survives(lower_weight, upper_weight) ? lower_price : upper_price;
    return (lw * lower_price + uw * upper_price) / sum;
}

// The level that survives merging the pair (lo, up): mode 2 moves it to the
// pair's weighted mean, modes 1 and 2 give it the sum of the weights.
inline Level merged(const Level& lo, const Level& up, int32_t mode) noexcept {
    Level survivor = lower_survives(lo.weight, up.weight) ? lo : up;
    if (mode == 2) survivor.price = mean_price(lo.price, lo.weight, up.price, up.weight);
    if (mode == 1 || mode == 2) survivor.weight = saturating_add(lo.weight, up.weight);
    return survivor;
}

// Puts survivor in place of the pair level[i], level[i + 1] of the first
// live levels, closing up the rest.
inline void replace_pair(Level* level, int32_t i, int32_t live, const Level& survivor) noexcept {
    level[i] = survivor;
    std::memmove(level + i + 1, level + i + 2, sizeof(Level) * static_cast<uint32_t>(live - i - 2));
}

// ---------------------------------------------------------------------------
// The merge list. Levels stay where the sort put them and are linked by
// index, so that a merge is an unlink and slot order is list order.

// A level in the merge: everything a merge reads or writes in one 32-byte
// record, so that a merge touches few cache lines.
struct Node {
    double price;
    double gap;  // the tree's copy of the gap to the next level, or kNoPair
    int32_t weight;
    int32_t next;
    int32_t prev;
    int32_t unused;
};

// A gap is an absolute value, so its sign bit is clear even when it is a
// NaN; a set sign bit marks a slot without a pair.
constexpr double kNoPair = -1.0;

struct List {
    Node* node;
    int32_t head;
    int32_t live;

    double gap_after(int32_t i) const noexcept {
        return absolute(node[node[i].next].price - node[i].price);
    }

    // Merges the pair (lower, lower.next), unlinks the level that loses and
    // returns the survivor.
    int32_t merge(int32_t lower, int32_t mode) noexcept {
        Node& lo = node[lower];
        const int32_t upper = lo.next;
        Node& up = node[upper];
        const bool lower_wins = lower_survives(lo.weight, up.weight);
        Node& survivor = lower_wins ? lo : up;
        // The mean reads both weights, so it goes before the sum replaces one.
        if (mode == 2) survivor.price = mean_price(lo.price, lo.weight, up.price, up.weight);
        if (mode == 1 || mode == 2) survivor.weight = saturating_add(lo.weight, up.weight);
        if (lower_wins) {
            lo.next = up.next;
            if (up.next != kNone) node[up.next].prev = lower;
        } else {
            up.prev = lo.prev;
            if (lo.prev != kNone) node[lo.prev].next = upper;
            else head = upper;
        }
        --live;
        return lower_wins ? lower : upper;
    }
};

// ---------------------------------------------------------------------------
// Merging by a sweep, in O(n), for the common case: the list sorted, no NaN
// gap, and every merge leaving the survivor's price between the two merged
// prices (always so but in mode 2, where weights of either sign and rounding
// can push the mean outside). Then a merge never narrows a gap, and a pair
// whose gap is within the tolerance and smaller than its neighbours' (on the
// left strictly, on the right or equal, as the scan breaks ties towards the
// head) stays so, untouched, until it merges: the closest-pair-first order
// merges it too, with the same operands. Merges of pairs that share no level
// commute, so merging such local minima, in any order, until none is left
// (then no pair is within the tolerance: the smallest would be one) ends
// exactly where closest-pair-first ends.

// The sweep works on the sorted levels in place: the survivors so far are a
// stack at the front, the levels not yet reached follow, so the list is the
// stack and then the rest. Pushing a level can make only the top pairs local
// minima; a merge changes the pairs on both sides of the survivor and the
// right neighbour of the pair before them, so the check backs up two pairs.

// Whether the sweep may start: every gap of the sorted levels is a number.
// Without NaN prices the levels are fully sorted, and two equal infinities,
// the only other source of a NaN gap, would sit side by side. Merges that
// keep prices between their neighbours cannot make a NaN gap later.
bool sweep_applies(const Level* level, int32_t count) noexcept {
    for (int32_t i = 0; i + 1 < count; ++i)
        if (std::isnan(absolute(level[i + 1].price - level[i].price))) return false;
    return true;
}

// Returns the number of survivors, packed at the front of the levels in list
// order; or -1, having spoilt the levels, when a mode 2 merge would leave the
// merged price outside the pair: the caller then starts over another way.
int32_t merge_by_sweep(Level* level, int32_t count, double tolerance, int32_t mode) noexcept {
    int32_t top = 0;  // the stack is level[0, top)
    for (int32_t read = 0; read < count; ++read) {
        level[top++] = level[read];
        const bool more = read + 1 < count;
        const double next_price = more ? level[read + 1].price : 0.0;
        int32_t i = top >= 3 ? top - 3 : 0;
        while (i + 1 < top) {
            const double gap = absolute(level[i + 1].price - level[i].price);
            const double right = i + 2 < top ? absolute(level[i + 2].price - level[i + 1].price)
                                             : absolute(next_price - level[i + 1].price);
            const bool local_minimum = !(gap > tolerance) &&
                                       (i == 0 || absolute(level[i].price - level[i - 1].price) > gap) &&
                                       ((i + 2 == top && !more) || right >= gap);
            if (!local_minimum) {
                ++i;
                continue;
            }
            const Level& lo = level[i];
            const Level& up = level[i + 1];
            const Level survivor = merged(lo, up, mode);
            if (mode == 2 && !(lo.price <= survivor.price && survivor.price <= up.price)) return -1;
            replace_pair(level, i, top, survivor);
            --top;
            i = i >= 2 ? i - 2 : 0;
        }
    }
    return top;
}

// ---------------------------------------------------------------------------
// Merging region by region, in O(n) for scattered levels, where merges may
// move a price outside its pair (mode 2 with weights of either sign) and
// the sweep does not apply. A pair whose gap is above the tolerance, and
// stays there, is never merged, and nothing crosses it: the levels between
// two such barriers merge among themselves, closest pair first, exactly as
// they would in the whole list, and their merges commute with everyone
// else's. So each region (a maximal run of pairs within the tolerance) is
// merged on its own, and every level that ends a region records the range of
// prices it had, or handed on to the level that took its place at the end.
// A barrier whose two sides' ranges come within the tolerance of each other
// might have been merged at some moment: then the two regions are merged
// again from their sorted levels as one, which is exact once its outer
// barriers hold, and the check repeats leftwards.
//
// Regions are merged by scanning for the closest pair, which is quadratic in
// a region's size; a budget of scan steps per level bounds the whole, and a
// list that exceeds it, holds a non-finite price or makes one, or joins
// regions further back than the record kept, goes to the tree instead.

// The lowest and highest price a region's end level had.
struct Range {
    double low;
    double high;

    Range() noexcept : low(0.0), high(0.0) {}
    explicit Range(double price) noexcept : low(price), high(price) {}
    void see(double price) noexcept {
        if (price < low) low = price;
        if (price > high) high = price;
    }
};

// Whether the pair across a barrier, its lower level's price always in
// `lower` and its upper level's in `upper`, can never come within the
// tolerance. Rounding is monotonic, so the nearest ends of two disjoint
// ranges give the smallest gap the pair can have; ranges that overlap can
// give a gap of zero.
bool barrier_holds(const Range& lower, const Range& upper, double tolerance) noexcept {
    double gap = 0.0;
    if (upper.low >= lower.high) gap = upper.low - lower.high;
    else if (lower.low >= upper.high) gap = lower.low - upper.high;
    return gap > tolerance;
}

// A region already merged: where its levels start in the sorted array and
// among the survivors, and the prices its last level had.
struct Done {
    int32_t begin = 0;
    int32_t at = 0;
    Range last;
};

// The latest regions only: joins rarely reach further back, and never past
// the count of levels. The records live in the working storage, not on the
// stack: a host may call from a thread with little of it.
constexpr int32_t kKept = 64;
inline int32_t records_for(int32_t count) noexcept { return count < kKept ? count : kKept; }

struct RegionMerge {
    const Level* sorted;  // the sorted levels, never written
    Level* out;           // the survivors so far, in list order
    Done* done;           // records_for(count) of them, a ring
    int32_t count;
    double tolerance;
    int32_t mode;
    int64_t budget;  // scan steps left

    // Merges the sorted levels [begin, end) closest pair first into out[at]
    // onwards; returns the number of survivors, or -1 to give up. Sets the
    // ranges of the first and the last level's prices.
    int32_t merge(int32_t begin, int32_t end, int32_t at, Range& first, Range& last) noexcept {
        Level* level = out + at;
        int32_t live = end - begin;
        std::memcpy(level, sorted + begin, sizeof(Level) * static_cast<uint32_t>(live));
        first = Range(level[0].price);
        last = Range(level[live - 1].price);
        while (live > 1) {
            budget -= live;
            if (budget < 0) return -1;
            int32_t best = 0;
            double best_gap = absolute(level[1].price - level[0].price);
            for (int32_t i = 1; i + 1 < live; ++i) {
                const double gap = absolute(level[i + 1].price - level[i].price);
                if (gap < best_gap) {
                    best = i;
                    best_gap = gap;
                }
            }
            if (best_gap > tolerance) break;
            const Level survivor = merged(level[best], level[best + 1], mode);
            if (mode == 2 && !std::isfinite(survivor.price)) return -1;
            replace_pair(level, best, live, survivor);
            --live;
            first.see(level[0].price);
            last.see(level[live - 1].price);
        }
        return live;
    }

    // Returns the number of survivors in out, or -1 to give up.
    int32_t run() noexcept {
        const int32_t ring = records_for(count);
        int32_t kept = 0;   // the latest record is at (kept - 1) % ring
        int32_t valid = 0;  // records not yet overwritten
        int32_t at = 0;
        int32_t begin = 0;
        while (begin < count) {
            int32_t end = begin + 1;
            while (end < count && !(absolute(sorted[end].price - sorted[end - 1].price) > tolerance)) ++end;
            Range first;
            Range last;
            int32_t region_at = at;
            int32_t region_begin = begin;
            int32_t survivors = merge(begin, end, at, first, last);
            if (survivors < 0) return -1;
            // Join leftwards while the barrier before the region may give.
            while (region_begin > 0) {
                if (valid == 0) return -1;
                const Done& before = done[(kept - 1) % ring];
                if (barrier_holds(before.last, first, tolerance)) break;
                region_begin = before.begin;
                region_at = before.at;
                --kept;
                --valid;
                survivors = merge(region_begin, end, region_at, first, last);
                if (survivors < 0) return -1;
            }
            done[kept % ring] = Done{region_begin, region_at, last};
            ++kept;
            if (valid < ring) ++valid;
            at = region_at + survivors;
            begin = end;
        }
        return at;
    }
};

// Whether the regions may run: every price finite (so no gap is a NaN and
// no barrier compares with one) and a tolerance that is a number.
bool regions_apply(const Level* level, int32_t count, double tolerance) noexcept {
    if (std::isnan(tolerance)) return false;
    for (int32_t i = 0; i < count; ++i)
        if (!std::isfinite(level[i].price)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// Merging by a tournament tree, in O(n log n), for every other case. The
// closest pair is the result of a left-to-right scan over the adjacent pairs
// that replaces its best pair when
//     gap < best gap, or gap is NaN, or best gap is NaN,
// the first pair always becoming the best. Each tree node summarises its
// stretch of pair slots as
//   - no NaN gap in the stretch: the smallest gap, nearest the head on ties
//     (what the scan keeps from the stretch whatever it arrived with, unless
//     that was a non-NaN gap no larger);
//   - a NaN gap in the stretch: what the scan ends with, which no longer
//     depends on what it arrived with, since a NaN pair always becomes best.
// In both cases that is what the scan ends with when it starts on the
// stretch. Combining two neighbouring stretches composes the scan over them,
// so the root holds exactly the pair that the scan over the whole list picks.
//
// Slot i belongs to the pair (i, next[i]); it is empty once level i is
// removed or while it is the last level. The tree's leaves are blocks of
// slots, summarised by running the scan over the block.

constexpr uint32_t kHasNaN = 0x80000000u;
constexpr uint32_t kIndex = 0x7fffffffu;
constexpr uint32_t kEmpty = kIndex;  // no slot has this index: count < 2^31
constexpr int kBlockBits = 5;
constexpr uint32_t kBlock = uint32_t{1} << kBlockBits;

// A stretch's pick: the slot, with kHasNaN when the stretch holds a NaN gap,
// and a copy of its gap so that combining touches no other memory.
struct Pick {
    double gap;
    uint32_t slot;
};

// Bit for bit, so that a NaN gap equals itself.
inline bool same_pick(const Pick& a, const Pick& b) noexcept {
    return a.slot == b.slot && bits_of(a.gap) == bits_of(b.gap);
}

inline Pick combine(const Pick& left, const Pick& right) noexcept {
    if (right.slot == kEmpty) return left;
    if ((right.slot & kHasNaN) != 0) return right;
    if (left.slot == kEmpty) return right;
    // right holds no NaN gap. The scan keeps left's pick only when its gap is
    // a number no larger than right's smallest.
    if (left.gap <= right.gap) return left;
    return Pick{right.gap, right.slot | (left.slot & kHasNaN)};
}

struct Tree {
    List& list;
    Pick* pick;       // pick[1] is the root, the blocks start at pick[leaves]
    uint32_t leaves;  // a power of two, at least the number of blocks
    uint32_t count;

    void set_gap(int32_t i) noexcept {
        Node& n = list.node[i];
        n.gap = n.next == kNone ? kNoPair : list.gap_after(i);
    }

    // The scan over one block of slots.
    Pick scan_block(uint32_t block) const noexcept {
        const uint32_t begin = block << kBlockBits;
        const uint32_t end = std::min(begin + kBlock, count);
        Pick best{0.0, kEmpty};
        bool nan = false;
        for (uint32_t i = begin; i < end; ++i) {
            const double g = list.node[i].gap;
            if (std::signbit(g)) continue;
            if (best.slot == kEmpty || g < best.gap || std::isnan(g) || std::isnan(best.gap))
                best = Pick{g, i};
            nan = nan || std::isnan(g);
        }
        if (nan) best.slot |= kHasNaN;
        return best;
    }

    void build() noexcept {
        for (uint32_t i = 0; i < count; ++i) set_gap(static_cast<int32_t>(i));
        const uint32_t blocks = (count + kBlock - 1) >> kBlockBits;
        for (uint32_t b = 0; b < leaves; ++b)
            pick[leaves + b] = b < blocks ? scan_block(b) : Pick{0.0, kEmpty};
        for (uint32_t t = leaves - 1; t != 0; --t) {
            const std::size_t children = 2 * static_cast<std::size_t>(t);
            pick[t] = combine(pick[children], pick[children + 1]);
        }
    }

    // Brings the tree up to date after the gaps of the given slots changed
    // (at most three, in ascending order). Walks up once for all of them and
    // stops where a node comes out as it was.
    void refresh(const int32_t* slots, int n) noexcept {
        uint32_t up[3];
        int k = 0;
        for (int i = 0; i < n; ++i) {
            const uint32_t t = leaves + (static_cast<uint32_t>(slots[i]) >> kBlockBits);
            if (k != 0 && up[k - 1] == t) continue;
            const Pick fresh = scan_block(t - leaves);
            if (same_pick(fresh, pick[t])) continue;
            pick[t] = fresh;
            up[k++] = t;
        }
        while (k != 0 && up[0] > 1) {
            int kept = 0;
            for (int i = 0; i < k; ++i) {
                const uint32_t t = up[i] >> 1;
                // cppcheck-suppress negativeIndex ; kept != 0 guards the index
                if (kept != 0 && up[kept - 1] == t) continue;
                const Pick fresh =
                    combine(pick[2 * static_cast<std::size_t>(t)], pick[2 * static_cast<std::size_t>(t) + 1]);
                if (same_pick(fresh, pick[t])) continue;
                pick[t] = fresh;
                // cppcheck-suppress negativeIndex ; kept < i + 1 <= k <= 3
                up[kept++] = t;
            }
            k = kept;
        }
    }

    void run(double tolerance, int32_t mode) noexcept {
        Node* node = list.node;
        while (list.live > 1) {
            // With two levels left there is a pair, so the root is not empty.
            const Pick best = pick[1];
            if (best.gap > tolerance) return;
            const int32_t lower = static_cast<int32_t>(best.slot & kIndex);
            const int32_t upper = node[lower].next;
            const int32_t before = node[lower].prev;
            // The slots whose pairs change: the removed level's, the one now
            // bridging the gap it leaves, and with mode 2, which moves the
            // survivor's price, the survivor's other pair.
            int32_t changed[3];
            int n = 0;
            if (list.merge(lower, mode) == lower) {
                node[upper].gap = kNoPair;
                set_gap(lower);
                if (mode == 2 && before != kNone) {
                    set_gap(before);
                    changed[n++] = before;
                }
                changed[n++] = lower;
                changed[n++] = upper;
            } else {
                node[lower].gap = kNoPair;
                if (before != kNone) {
                    set_gap(before);
                    changed[n++] = before;
                }
                changed[n++] = lower;
                if (mode == 2) {
                    set_gap(upper);
                    changed[n++] = upper;
                }
            }
            refresh(changed, n);
        }
    }
};

uint32_t power_of_two_at_least(uint32_t n) noexcept {
    uint32_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

// Turns the sorted levels, packed at the start of the node array, into a
// linked list. Back to front, so that no level is overwritten before it is
// read; memcpy because the two views share the bytes.
void link_sorted(Node* node, int32_t count) noexcept {
    for (int32_t i = count - 1; i >= 0; --i) {
        Level l{};
        std::memcpy(&l, reinterpret_cast<const char*>(node) + sizeof(Level) * i, sizeof l);
        const Node fresh{l.price, kNoPair, l.weight, i + 1 < count ? i + 1 : kNone, i - 1, 0};
        std::memcpy(node + i, &fresh, sizeof fresh);
    }
}

}  // namespace

void hlop(double* prices, int32_t* weights, int32_t count, double tolerance, int32_t mode) noexcept {
    if (count <= 0) return;
    // One block for everything, taken before touching anything so that a
    // failure leaves the caller's arrays exactly as they were:
    //   count x 32  the levels (16) and the radix sort's second buffer (16),
    //               which the regions' survivors reuse, then the tree's nodes
    //   tree        2 x leaves x 16, leaves < 2 x count / 32
    //   histograms  for the radix sort, when a run can be long enough
    //   records     of the regions' merge, 24 bytes for each of up to 64
    //               levels, when it may run
    // At most 34 bytes per level, plus the fixed 48 KiB of histograms from
    // 2048 levels up: never more than 58 bytes per level in all (and 24 more
    // below 64 levels in mode 2 with a weight that is not positive). (A million
    // levels stay under 32 MiB, which glibc's allocator keeps on its heap
    // rather than mapping afresh, and faulting in, for every call.)
    static_assert(sizeof(Node) == 2 * sizeof(Level), "the nodes take the place of both sort buffers");
    // Mode 2 with a weight that is not positive moves merged prices outside
    // their pairs, where the sweep would give up: the regions take it.
    bool signed_means = false;
    if (mode == 2)
        for (int32_t i = 0; i < count && !signed_means; ++i) signed_means = weights[i] <= 0;
    const uint32_t blocks = (static_cast<uint32_t>(count) + kBlock - 1) >> kBlockBits;
    const uint32_t leaves = power_of_two_at_least(blocks);
    const uint64_t tree_offset = sizeof(Node) * static_cast<uint64_t>(count);
    const uint64_t counts_offset = tree_offset + 2 * static_cast<uint64_t>(leaves) * sizeof(Pick);
    const uint64_t records_offset = counts_offset + (count >= kRadixMin ? kCountsBytes : 0);
    const uint64_t bytes =
        records_offset + (signed_means ? sizeof(Done) * static_cast<uint64_t>(records_for(count)) : 0);
    if (bytes > std::numeric_limits<std::size_t>::max()) return;
    // Plain malloc: a failure is a null to check, never an exception.
    char* storage = static_cast<char*>(std::malloc(static_cast<std::size_t>(bytes)));
    if (storage == nullptr) return;

    Level* level = reinterpret_cast<Level*>(storage);
    uint32_t* counts =
        count >= kRadixMin ? reinterpret_cast<uint32_t*>(storage + counts_offset) : nullptr;
    // The caller's arrays are only read until the write-back, so the
    // general path can start over from them when the sweep gives up.
    const auto sort = [&] {
        for (int32_t i = 0; i < count; ++i) level[i] = Level{prices[i], weights[i], i};
        sort_between_nans(level, level + count, count, counts);
    };
    sort();
    // Both fast paths leave their survivors packed in list order.
    const auto finish = [&](const Level* survivor, int32_t survivors) {
        for (int32_t k = 0; k < survivors; ++k) {
            prices[k] = survivor[k].price;
            weights[k] = survivor[k].weight;
        }
        for (int32_t k = survivors; k < count; ++k) {
            prices[k] = 0.0;
            weights[k] = 0;
        }
        std::free(storage);
    };
    // The regions merge from the sorted levels, writing their survivors
    // into the sort's second buffer.
    if (signed_means && regions_apply(level, count, tolerance)) {
        Done* done = reinterpret_cast<Done*>(storage + records_offset);
        RegionMerge regions{level, level + count, done, count, tolerance, mode,
                            32 * static_cast<int64_t>(count) + 4096};
        const int32_t survivors = regions.run();
        if (survivors >= 0) return finish(regions.out, survivors);
    }
    if (!signed_means && sweep_applies(level, count)) {
        const int32_t survivors = merge_by_sweep(level, count, tolerance, mode);
        if (survivors >= 0) return finish(level, survivors);
        sort();
    }
    List list{reinterpret_cast<Node*>(storage), 0, count};
    link_sorted(list.node, count);
    Tree tree{list, reinterpret_cast<Pick*>(storage + tree_offset), leaves, static_cast<uint32_t>(count)};
    tree.build();
    tree.run(tolerance, mode);

    int32_t k = 0;
    for (int32_t a = list.head; a != kNone; a = list.node[a].next, ++k) {
        prices[k] = list.node[a].price;
        weights[k] = list.node[a].weight;
    }
    for (; k < count; ++k) {
        prices[k] = 0.0;
        weights[k] = 0;
    }
    std::free(storage);
}

}  // namespace tidemark::levels
