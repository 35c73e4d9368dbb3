#include "levels/resize.h"

#include <cmath>
#include <cstdint>

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

Extremes extremes(const int32_t* weights, int32_t count) noexcept {
    Extremes e{weights[0], weights[0]};
    int32_t i = 0;
#if defined(__SSE2__)
    // SSE2 has no 32-bit min/max instruction; a compare and a bitwise select
    // do the same, four weights at a time.
    if (count >= 8) {
        __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights));
        __m128i hi = lo;
        const auto fold = [&](__m128i v) noexcept {
            const __m128i below = _mm_cmplt_epi32(v, lo);
            lo = _mm_or_si128(_mm_and_si128(below, v), _mm_andnot_si128(below, lo));
            const __m128i above = _mm_cmpgt_epi32(v, hi);
            hi = _mm_or_si128(_mm_and_si128(above, v), _mm_andnot_si128(above, hi));
        };
        for (i = 4; count - i >= 8; i += 8) {
            fold(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + i)));
            fold(_mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + i + 4)));
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
    for (; i < count; ++i) {
        if (weights[i] < e.min) e.min = weights[i];
        if (weights[i] > e.max) e.max = weights[i];
    }
    return e;
}

}  // namespace

void rescale_weights(int32_t span, int32_t* weights, int32_t count) noexcept {
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
    const double factor =
        std::fabs(static_cast<double>(reach)) / std::fabs(static_cast<double>(denominator));

    int32_t i = 0;
#if defined(__SSE2__)
    // The same multiply, clamp and truncation as scaled(), four at a time.
    // maxpd/minpd return their second operand when the first is not greater
    // (smaller), exactly as the scalar selects do.
    const __m128d f = _mm_set1_pd(factor);
    const __m128d lowest = _mm_set1_pd(kLowest);
    const __m128d highest = _mm_set1_pd(kHighest);
    const auto convert = [&](__m128i two) noexcept {
        const __m128d product = _mm_mul_pd(_mm_cvtepi32_pd(two), f);
        return _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(product, lowest), highest));
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

}  // namespace tidemark::levels
