#include "levels/check_level.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "frame/float_bits.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>

#include "frame/wide_vectors.h"
#endif

namespace tidemark::levels {
namespace {

inline bool matches(double level, double price, double tolerance) noexcept {
    return !(absolute(level - price) > tolerance);
}

int32_t scan(double price, double tolerance, const double* prices, int32_t from,
             int32_t to) noexcept {
    for (int32_t i = from; i < to; ++i)
        if (matches(prices[i], price, tolerance)) return i;
    return -1;
}

#if defined(__SSE2__)

constexpr double kInf = std::numeric_limits<double>::infinity();

// The reach of the tolerance on one side of the price (`side` -1 below, +1
// above): a bound such that every level beyond it is beyond the tolerance,
// whatever the rounding of its distance. It starts at price -/+ tolerance and
// is checked on the nearest double outside it, the level closest to matching
// among those it rules out; the rounded distance never decreases as a level
// moves away from the price, so that one check covers every level further
// out. Where the check fails the bound steps outward. Multiplying by `side`
// only flips signs, so both sides round exactly as the scalar test does.
double reach(double price, double tolerance, double side) noexcept {
    constexpr int kSteps = 8;  // one or two steps suffice in practice
    double bound = price + side * tolerance;
    for (int step = 0; step < kSteps; ++step) {
        const double outside = side > 0.0 ? next_up(bound) : next_down(bound);
        if (side * (outside - price) > tolerance) return bound;
        bound = outside;
    }
    return side * kInf;  // rules nothing out
}

constexpr int32_t kBlock = 8;

// True when all eight levels at `at` compare below (or above) the bound. A NaN
// compares neither way, so a block holding one is never ruled out here.
template <bool kAbove>
inline bool all_outside(const double* at, __m128d bound) noexcept {
    const auto outside = [&](int k) noexcept {
        const __m128d level = _mm_loadu_pd(at + k);
        return kAbove ? _mm_cmpgt_pd(level, bound) : _mm_cmplt_pd(level, bound);
    };
    const __m128d all = _mm_and_pd(_mm_and_pd(outside(0), outside(2)), _mm_and_pd(outside(4), outside(6)));
    return _mm_movemask_pd(all) == 3;
}

// The exact test on eight levels at once: true when none of them matches. A
// lane is ruled out only when its distance compares greater than the
// tolerance (cmpgt is false for NaN), exactly as in the scalar test; clearing
// the sign bit is fabs, bit for bit.
inline bool none_matches(const double* at, __m128d price, __m128d tolerance) noexcept {
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
    const auto beyond = [&](int k) noexcept {
        const __m128d distance = _mm_and_pd(_mm_sub_pd(_mm_loadu_pd(at + k), price), magnitude);
        return _mm_cmpgt_pd(distance, tolerance);
    };
    const __m128d all = _mm_and_pd(_mm_and_pd(beyond(0), beyond(2)), _mm_and_pd(beyond(4), beyond(6)));
    return _mm_movemask_pd(all) == 3;
}

// The exact test of none_matches on sixteen levels at a time, with AVX:
// skips from `from` the runs of sixteen levels that hold no match, and
// returns where the first that may hold one starts, or where fewer than
// sixteen are left before `to`. Each lane computes what the SSE2 lane does,
// so the two agree on every level; a NaN compares neither way, so its block
// is never skipped.
#define TIDEMARK_BEYOND(k)                                                                      \
    _mm256_cmp_pd(_mm256_and_pd(_mm256_sub_pd(_mm256_loadu_pd(prices + i + (k)), p), magnitude), \
                  tol, _CMP_GT_OQ)
__attribute__((target("avx"))) int32_t skip_wide(const double* prices, int32_t from, int32_t to, double price,
                                                 double tolerance) noexcept {
    const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
    const __m256d p = _mm256_set1_pd(price);
    const __m256d tol = _mm256_set1_pd(tolerance);
    int32_t i = from;
    for (; to - i >= 16; i += 16) {
        const __m256d all =
            _mm256_and_pd(_mm256_and_pd(TIDEMARK_BEYOND(0), TIDEMARK_BEYOND(4)),
                          _mm256_and_pd(TIDEMARK_BEYOND(8), TIDEMARK_BEYOND(12)));
        if (_mm256_movemask_pd(all) != 15) break;
    }
    return i;
}
#undef TIDEMARK_BEYOND

#endif

}  // namespace

int32_t check_level(double price, double tolerance, const double* prices, int32_t count) noexcept {
    if (count <= 0) return -1;
    int32_t i = 0;
#if defined(__SSE2__)
    // Levels mostly come in runs on one side of the price (Hlop returns them
    // sorted, and a price is often beyond all of them), and such a block is
    // ruled out by one comparison per level against the reach, half the work
    // of the exact test. The side that ruled out the last block is tried
    // first. A block that straddles the price gets the exact test, and the
    // blocks after it get only the exact test for a stretch, so unsorted
    // levels do not pay for one-sided tries that keep failing. Whatever rules
    // a block out, the first block that may hold a match goes to the scalar
    // scan, which keeps first-match order.
    // Bounds of -/+inf rule nothing out: the answer for a non-finite price or
    // tolerance and for a negative tolerance, where the exact test decides.
    const bool bounded = std::isfinite(price) && std::isfinite(tolerance) && tolerance >= 0.0;
    const __m128d low = _mm_set1_pd(bounded ? reach(price, tolerance, -1.0) : -kInf);
    const __m128d high = _mm_set1_pd(bounded ? reach(price, tolerance, 1.0) : kInf);
    const __m128d p = _mm_set1_pd(price);
    const __m128d tol = _mm_set1_pd(tolerance);
    constexpr int32_t kStretch = 64 * kBlock;
    enum class Side { kBelow, kAbove, kStraddling };
    Side side = Side::kBelow;
    // Asked the first time a stretch of straddling blocks starts.
    enum class Wide { kUnknown, kNo, kYes };
    Wide wide = Wide::kUnknown;
    const int32_t blocks_end = count - count % kBlock;
    while (i < blocks_end) {
        if (side == Side::kBelow) {
            while (i < blocks_end && all_outside<false>(prices + i, low)) i += kBlock;
        } else if (side == Side::kAbove) {
            while (i < blocks_end && all_outside<true>(prices + i, high)) i += kBlock;
        } else {
            const int32_t stretch_end = blocks_end - i > kStretch ? i + kStretch : blocks_end;
            if (wide == Wide::kUnknown) wide = frame::wide_vectors_usable() ? Wide::kYes : Wide::kNo;
            if (wide == Wide::kYes) i = skip_wide(prices, i, stretch_end, price, tolerance);
            for (; i < stretch_end; i += kBlock)
                if (!none_matches(prices + i, p, tol)) return scan(price, tolerance, prices, i, i + kBlock);
        }
        if (i == blocks_end) break;
        // The block at i ended the run or the stretch: find where it lies,
        // without repeating the one-sided test that has just failed on it.
        const double* at = prices + i;
        if (side != Side::kBelow && all_outside<false>(at, low)) {
            side = Side::kBelow;
        } else if (side != Side::kAbove && all_outside<true>(at, high)) {
            side = Side::kAbove;
        } else {
            if (!none_matches(at, p, tol)) return scan(price, tolerance, prices, i, i + kBlock);
            side = Side::kStraddling;
        }
        i += kBlock;
    }
#endif
    return scan(price, tolerance, prices, i, count);
}

}  // namespace tidemark::levels
