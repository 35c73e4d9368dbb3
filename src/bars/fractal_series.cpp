#include "bars/fractal_series.h"

#include <cstring>

#include "bars/fractal.h"

namespace tidemark::bars {
namespace {

// A strength is the shorter of the two runs, so it is also the number of
// steps k = 1, 2, ... for which the neighbours at -k and +k both qualify and
// every nearer pair did: one walk over both sides at once, which stops at the
// first failure on either side, exactly where the shorter run ends.
template <class Test>
int32_t strength(const double* centre, int32_t depth) noexcept {
    const auto qualifies = Test::qualifier(bits_of(*centre));
    int32_t k = 0;
    while (k < depth && qualifies(bits_of(centre[-1 - k])) && qualifies(bits_of(centre[1 + k]))) ++k;
    return k;
}

#if defined(__SSE2__)
// Two neighbouring bars at a time, without a branch per neighbour (which
// random prices would mispredict half the time): a lane's mask stays all
// ones while both of its sides qualify, and subtracting it (-1) counts one
// step. Every fourth step, the pair stops once neither lane is alive.
// kDepth > 0 fixes the depth at compile time, so that the usual small depths
// run unrolled; 0 takes it from depth.
template <class Test, int32_t kDepth>
void strength_pair(const double* centre, int32_t depth, int32_t* out) noexcept {
    const int32_t steps_max = kDepth > 0 ? kDepth : depth;
    const __m128d c = _mm_loadu_pd(centre);
    __m128d alive = _mm_castsi128_pd(_mm_set1_epi32(-1));
    __m128i steps = _mm_setzero_si128();
    for (int32_t k = 1; k <= steps_max; ++k) {
        const __m128d right = Test::qualifies(c, _mm_loadu_pd(centre - k));
        const __m128d left = Test::qualifies(c, _mm_loadu_pd(centre + k));
        alive = _mm_and_pd(alive, _mm_and_pd(right, left));
        steps = _mm_sub_epi64(steps, _mm_castpd_si128(alive));
        if ((k & 3) == 0 && _mm_movemask_pd(alive) == 0) break;
    }
    // The counts fit in the low halves of the 64-bit lanes (at most depth).
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out),
                     _mm_shuffle_epi32(steps, _MM_SHUFFLE(2, 0, 2, 0)));
}

// Bars s, s + 1, ... two at a time while both have depth neighbours on the
// right-hand side; advances s past them.
template <class Test, int32_t kDepth>
void pairs(const double* values, std::size_t count, int32_t depth, std::size_t& s,
           int32_t* out) noexcept {
    const auto reach = static_cast<std::size_t>(depth);
    for (; s + 1 + reach < count; s += 2) strength_pair<Test, kDepth>(values + s, depth, out + s);
}
#endif

template <class Test>
void strengths(const double* values, std::size_t count, int32_t depth, int32_t* out) noexcept {
    const auto reach = static_cast<std::size_t>(depth);
    // Bars without depth neighbours on both sides: [0, reach) and [count - reach, count).
    std::memset(out, 0, reach * sizeof *out);
    std::memset(out + (count - reach), 0, reach * sizeof *out);
    std::size_t s = reach;
#if defined(__SSE2__)
    switch (depth) {
        case 1: pairs<Test, 1>(values, count, depth, s, out); break;
        case 2: pairs<Test, 2>(values, count, depth, s, out); break;
        case 3: pairs<Test, 3>(values, count, depth, s, out); break;
        default: pairs<Test, 0>(values, count, depth, s, out); break;
    }
#endif
    for (; s + reach < count; ++s) out[s] = strength<Test>(values + s, depth);
}

}  // namespace

void fractal_strengths(const double* high, const double* low, std::size_t count, int32_t depth,
                       int32_t* up, int32_t* down) noexcept {
    // Unless count >= 2 depth + 1, no bar has depth neighbours on both sides.
    if (depth < 1 || count == 0 || (count - 1) / 2 < static_cast<std::size_t>(depth)) {
        if (count != 0) {
            std::memset(up, 0, count * sizeof *up);
            std::memset(down, 0, count * sizeof *down);
        }
        return;
    }
    strengths<UpTest>(high, count, depth, up);
    strengths<DownTest>(low, count, depth, down);
}

}  // namespace tidemark::bars
