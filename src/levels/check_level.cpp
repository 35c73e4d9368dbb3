#include "levels/check_level.h"

#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tidemark::levels {
namespace {

inline bool matches(double level, double price, double tolerance) noexcept {
    return !(std::fabs(level - price) > tolerance);
}

int32_t scan(double price, double tolerance, const double* prices, int32_t from,
             int32_t to) noexcept {
    for (int32_t i = from; i < to; ++i)
        if (matches(prices[i], price, tolerance)) return i;
    return -1;
}

}  // namespace

int32_t find_level(double price, double tolerance, const double* prices, int32_t count) noexcept {
    if (count <= 0) return -1;
    int32_t i = 0;
#if defined(__SSE2__)
    // Eight levels per step. A lane is ruled out only when its distance
    // compares greater than the tolerance (cmpgt is false for NaN), so a lane
    // "matches" exactly when the scalar test does. The first block with any
    // match is handed to the scalar scan, which keeps first-match order.
    const __m128d p = _mm_set1_pd(price);
    const __m128d tol = _mm_set1_pd(tolerance);
    const __m128d magnitude = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
    const auto beyond = [&](const double* at) noexcept {
        // Clearing the sign bit is fabs, bit for bit.
        const __m128d d = _mm_and_pd(_mm_sub_pd(_mm_loadu_pd(at), p), magnitude);
        return _mm_cmpgt_pd(d, tol);
    };
    for (; count - i >= 8; i += 8) {
        const double* at = prices + i;
        const __m128d all_beyond = _mm_and_pd(_mm_and_pd(beyond(at), beyond(at + 2)),
                                              _mm_and_pd(beyond(at + 4), beyond(at + 6)));
        if (_mm_movemask_pd(all_beyond) != 3) return scan(price, tolerance, prices, i, i + 8);
    }
#endif
    return scan(price, tolerance, prices, i, count);
}

}  // namespace tidemark::levels
