#include "levels/resize.h"

#include <cstdint>

#include "frame/float_bits.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tidemark::levels {
namespace {

// Bounds for the saturating conversion. The product is never NaN (the factor
// is finite and not NaN once the denominator is non-zero), so clamping first
// and then truncating gives the truncated value saturated to int32: anything
// at or beyond 2^31 becomes INT32_MAX, anything at or below -2^31 - 1 becomes
// INT32_MIN, and the clamp itself keeps the conversion defined.
constexpr double kLowest = -2147483648.0;
constexpr double kHighest = 2147483647.0;

inline int32_t scaled(int32_t weight, double factor) noexcept {
    double product = static_cast<double>(weight) * factor;
    product = product < kLowest ? kLowest : product;
    product = product > kHighest ? kHighest : product;
    return static_cast<int32_t>(product);  // truncates toward zero
}

struct Extremes {
    int32_t min;
    int32_t max;
};

#if defined(__SSE2__)
inline __m128i load4(const int32_t* at) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// SSE2 has no 32-bit min/max instruction; a compare and a bitwise select do
// the same.
inline __m128i select(__m128i take, __m128i a, __m128i b) noexcept {
    return _mm_or_si128(_mm_and_si128(take, a), _mm_andnot_si128(take, b));
}

// The lanes' ranges [lo, hi] in a form that tests four weights with one
// subtraction and one compare: v lies in [lo, hi] exactly when v - lo, read
// as unsigned, is at most hi - lo. Flipping the sign bit of both sides turns
// that unsigned comparison into the signed one SSE2 has, and v - lo with a
// flipped sign bit is v - (lo with a flipped sign bit).
struct Ranges {
    __m128i base;
    __m128i bound;
};

inline Ranges ranges(__m128i lo, __m128i hi) noexcept {
    const __m128i sign = _mm_set1_epi32(static_cast<int32_t>(0x80000000u));
    return Ranges{_mm_xor_si128(lo, sign), _mm_xor_si128(_mm_sub_epi32(hi, lo), sign)};
}

// All ones in the lanes where v lies outside its lane's range.
inline __m128i outside(__m128i v, const Ranges& r) noexcept {
    return _mm_cmpgt_epi32(_mm_sub_epi32(v, r.base), r.bound);
}
#endif

Extremes extremes(const int32_t* weights, int32_t count) noexcept {
    Extremes e{weights[0], weights[0]};
    // Weights [0, head) are scanned one by one, the rest in blocks.
    int32_t head = count;
#if defined(__SSE2__)
    // Per-lane extremes over blocks of sixteen weights. After the first few
    // blocks hardly any weight lies outside them, so a block is only tested
    // and the update runs when it must. The blocks go from the end back to
    // the start, so the rewrite that follows begins on weights still in
    // cache.
    if (count >= 16) {
        __m128i lo = load4(weights);
        __m128i hi = lo;
        Ranges r = ranges(lo, hi);
        for (; head >= 16; head -= 16) {
            const int32_t* at = weights + head - 16;
            const __m128i a = load4(at);
            const __m128i b = load4(at + 4);
            const __m128i c = load4(at + 8);
            const __m128i d = load4(at + 12);
            const __m128i any = _mm_or_si128(_mm_or_si128(outside(a, r), outside(b, r)),
                                             _mm_or_si128(outside(c, r), outside(d, r)));
            if (_mm_movemask_epi8(any) == 0) continue;
            const auto fold = [&](__m128i v) noexcept {
                lo = select(_mm_cmplt_epi32(v, lo), v, lo);
                hi = select(_mm_cmpgt_epi32(v, hi), v, hi);
            };
            fold(a);
            fold(b);
            fold(c);
            fold(d);
            r = ranges(lo, hi);
        }
        alignas(16) int32_t lanes_lo[4];
        alignas(16) int32_t lanes_hi[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes_lo), lo);
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes_hi), hi);
        for (int k = 0; k < 4; ++k) {
            if (lanes_lo[k] < e.min) e.min = lanes_lo[k];
            if (lanes_hi[k] > e.max) e.max = lanes_hi[k];
        }
    }
#endif
    for (int32_t i = 0; i < head; ++i) {
        if (weights[i] < e.min) e.min = weights[i];
        if (weights[i] > e.max) e.max = weights[i];
    }
    return e;
}

// Every weight times the factor, truncated; without the clamp only for
// factors under which every product truncates into int32.
template <bool kClamp>
void scale_all(int32_t* weights, int32_t count, double factor) noexcept {
    int32_t i = 0;
#if defined(__SSE2__)
    // The same multiply, clamp and truncation as scaled(), four at a time.
    // maxpd/minpd return their second operand when the first is not greater
    // (smaller), exactly as the scalar selects do for a product that is
    // never NaN.
    const __m128d f = _mm_set1_pd(factor);
    const __m128d lowest = _mm_set1_pd(kLowest);
    const __m128d highest = _mm_set1_pd(kHighest);
    const auto convert = [&](__m128i two) noexcept {
        __m128d product = _mm_mul_pd(_mm_cvtepi32_pd(two), f);
        if (kClamp) product = _mm_min_pd(_mm_max_pd(product, lowest), highest);
        return _mm_cvttpd_epi32(product);
    };
    for (; count - i >= 4; i += 4) {
        __m128i* at = reinterpret_cast<__m128i*>(weights + i);
        const __m128i four = _mm_loadu_si128(at);
        const __m128i low = convert(four);
        const __m128i high = convert(_mm_shuffle_epi32(four, _MM_SHUFFLE(1, 0, 3, 2)));
        _mm_storeu_si128(at, _mm_unpacklo_epi64(low, high));
    }
#endif
    for (; i < count; ++i) weights[i] = scaled(weights[i], factor);
}

}  // namespace

void resize(int32_t span, int32_t* weights, int32_t count) noexcept {
    if (count <= 0) return;
    const Extremes e = extremes(weights, count);
    const int32_t cut = e.min / 10;  // truncates toward zero
    // 64-bit: max - cut - min and span - 1 can leave the int32 range.
    const int64_t denominator = static_cast<int64_t>(e.max) - cut - e.min;
    // Nothing to scale by: keep the weights rather than zero them all.
    if (denominator == 0) return;
    const int64_t reach = static_cast<int64_t>(span) - 1;
    // Both fit a double exactly; the order (abs, abs, divide) is part of the
    // result.
    const double factor = absolute(to_double(reach)) / absolute(to_double(denominator));

    // Rounding is monotonic and the factor is not negative, so no product
    // lies beyond those of the extremes: when they fit, nothing needs the
    // clamp.
    const bool fits = static_cast<double>(e.max) * factor < 2147483648.0 &&
                      static_cast<double>(e.min) * factor > -2147483649.0;
    if (fits) scale_all<false>(weights, count, factor);
    else scale_all<true>(weights, count, factor);
}

}  // namespace tidemark::levels
