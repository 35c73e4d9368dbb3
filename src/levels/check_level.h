#ifndef TIDEMARK_LEVELS_CHECK_LEVEL_H
#define TIDEMARK_LEVELS_CHECK_LEVEL_H

#include <cstdint>

#include "frame/float_bits.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tidemark::levels {

// Index of the first level i with !(|prices[i] - price| > tolerance), or -1.
// The negated test is deliberate: a distance equal to the tolerance matches,
// and so does any comparison that involves a NaN. Nothing is read when
// count <= 0.
int32_t check_level(double price, double tolerance, const double* prices, int32_t count) noexcept;

// The answer of check_level found with integer instructions alone, on the
// bits of the numbers: no floating-point environment can change it, and it
// raises no flag, so a caller needs no guard around it. Returns kUndecided
// for the calls it leaves to check_level: more than kShortLevels levels,
// or a price that is zero, subnormal, very small, very large or infinite,
// or a tolerance above a quarter of the price's magnitude. Inline, so that
// a short lookup costs no call of its own.
constexpr int32_t kUndecided = -2;
constexpr int32_t kShortLevels = 64;

#if defined(__SSE2__)

// check_level_on_bits's test on the two levels at `at`, in integer lanes: a
// lane's sign bit is set when its level matches. The level's pattern lies
// in [first, first + size) when d = level - first, taken as unsigned, is
// below size (< 2^63): when d's top bit is clear and that of d - size set.
// A NaN's magnitude is above the infinity's, so inf - magnitude is negative.
inline __m128i matches_on_bits(const double* at, __m128i first, __m128i size) noexcept {
    const __m128i level = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i d = _mm_sub_epi64(level, first);
    const __m128i in_range = _mm_andnot_si128(d, _mm_sub_epi64(d, size));
    const __m128i magnitude = _mm_and_si128(level, _mm_set1_epi64x(0x7fffffffffffffffLL));
    const __m128i nan = _mm_sub_epi64(_mm_set1_epi64x(static_cast<int64_t>(kInfinityBits)), magnitude);
    return _mm_or_si128(in_range, nan);
}

#endif

// Why the matching levels are one range of bit patterns. With the price p
// normal and not tiny, and 0 <= t <= |p|/4: a level L within a factor of
// two of p has an exact difference L - p (Sterbenz), so it matches exactly
// when |L - p| <= t as real numbers, that is when L lies in
// [round_up(|p| - t), round_down(|p| + t)] (magnitudes, p's sign). Every
// other level (another sign, a zero, a subnormal, an infinity, or further
// than a factor of two) lies more than |p|/2 >= 2t away, and its rounded
// distance, rounding being monotonic, at least |p|/2: no match. The range
// stays within p's binade and its two neighbours, where the doubles are
// evenly spaced in units of p's ulp, twice that above and half below.
inline int32_t check_level_on_bits(double price, double tolerance, const double* prices, int32_t count) noexcept {
    if (count <= 0) return -1;
    if (count > kShortLevels) return kUndecided;
    constexpr uint64_t kMantissa = (uint64_t{1} << 52) - 1;
    constexpr uint64_t kHidden = uint64_t{1} << 52;
    const uint64_t p = bits_of(price);
    const uint64_t t = bits_of(tolerance);
    const uint64_t magnitude = p & ~kSignBit;
    const uint64_t reach = t & ~kSignBit;
    // A NaN price or tolerance makes every comparison match.
    if (magnitude > kInfinityBits || reach > kInfinityBits) return 0;
    // Two equal infinities are a NaN distance.
    if (magnitude == kInfinityBits) return kUndecided;
    // The matching levels other than NaNs are the patterns [first, first +
    // size): none for a tolerance below zero (-0.0 is zero).
    uint64_t first = 1;
    uint64_t size = 0;
    if ((t & kSignBit) == 0 || reach == 0) {
        const uint64_t exponent = magnitude >> 52;
        if (exponent < 3 || exponent > 2045) return kUndecided;
        if (reach > magnitude - (uint64_t{2} << 52)) return kUndecided;  // t > |p| / 4
        const uint64_t reach_exponent = reach >> 52;
        // t = significand x 2^(scale), with the ulp of p as the unit; twice
        // is floor(2t / ulp) and units floor(t / ulp).
        const uint64_t significand = (reach & kMantissa) | (reach_exponent != 0 ? kHidden : 0);
        const uint64_t shift = exponent - (reach_exponent != 0 ? reach_exponent : 1) - 1;  // >= 1
        const uint64_t twice = shift < 64 ? significand >> shift : 0;
        const uint64_t units = twice >> 1;
        const uint64_t fraction = magnitude & kMantissa;  // ulps of p above its binade's start
        const uint64_t to_next_binade = kHidden - fraction;
        // Above: whole ulps up to the next binade, then steps of two.
        const uint64_t top = units < to_next_binade
                                 ? magnitude + units
                                 : magnitude + to_next_binade + (units - to_next_binade) / 2;
        // Below: whole ulps down to the binade's start, then half steps.
        const uint64_t bottom = twice <= 2 * fraction ? magnitude - units : magnitude + fraction - twice;
        first = (p & kSignBit) | bottom;
        size = top - bottom + 1;
    }
    int32_t i = 0;
#if defined(__SSE2__)
    const __m128i first_lanes = _mm_set1_epi64x(static_cast<int64_t>(first));
    const __m128i size_lanes = _mm_set1_epi64x(static_cast<int64_t>(size));
    // One sign test for each eight levels; the eight that hold a match go
    // to the loop below, which finds the first (and keeps the registers
    // free on x86).
    for (; count - i >= 8; i += 8) {
        __m128i any = matches_on_bits(prices + i, first_lanes, size_lanes);
        any = _mm_or_si128(any, matches_on_bits(prices + i + 2, first_lanes, size_lanes));
        any = _mm_or_si128(any, matches_on_bits(prices + i + 4, first_lanes, size_lanes));
        any = _mm_or_si128(any, matches_on_bits(prices + i + 6, first_lanes, size_lanes));
        if (_mm_movemask_pd(_mm_castsi128_pd(any)) != 0) break;
    }
#endif
    for (; i < count; ++i) {
        const uint64_t level = bits_of(prices[i]);
        if (((level - first) < size) | ((level & ~kSignBit) > kInfinityBits)) return i;
    }
    return -1;
}

}  // namespace tidemark::levels

#endif
