// Random inputs for differential tests, biased towards the values where
// numeric code goes wrong: signed zeros, NaN, infinities, int32 limits and
// repeated values.
#ifndef TIDEMARK_TESTS_RANDOM_VALUES_H
#define TIDEMARK_TESTS_RANDOM_VALUES_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace random_values {

using Rng = std::mt19937_64;

inline uint64_t below(Rng& rng, uint64_t n) { return rng() % n; }

inline double quiet_nan() { return std::numeric_limits<double>::quiet_NaN(); }
inline double infinity() { return std::numeric_limits<double>::infinity(); }

// A double from a mix of special values, a small grid (so that duplicates
// and equal gaps are common) and arbitrary values.
inline double price(Rng& rng) {
    switch (below(rng, 16)) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return quiet_nan();
        case 3: return infinity();
        case 4: return -infinity();
        case 5: return std::numeric_limits<double>::max();
        case 6: return std::numeric_limits<double>::denorm_min();
        case 7:
        case 8: return static_cast<double>(below(rng, 8)) * 0.5 - 1.0;
        case 9: {  // arbitrary bit pattern, NaN payloads included
            double d;
            const uint64_t bits = rng();
            std::memcpy(&d, &bits, sizeof d);
            return d;
        }
        default: return std::uniform_real_distribution<double>(-10.0, 10.0)(rng);
    }
}

// A tolerance: zero of either sign, negative, NaN, infinite or ordinary.
inline double tolerance(Rng& rng) {
    switch (below(rng, 10)) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return -1.0;
        case 3: return quiet_nan();
        case 4: return infinity();
        case 5: return 0.5;
        default: return std::uniform_real_distribution<double>(0.0, 4.0)(rng);
    }
}

inline int32_t int32(Rng& rng) {
    switch (below(rng, 12)) {
        case 0: return 0;
        case 1: return -1;
        case 2: return std::numeric_limits<int32_t>::max();
        case 3: return std::numeric_limits<int32_t>::min();
        case 4: return std::numeric_limits<int32_t>::max() - static_cast<int32_t>(below(rng, 3));
        case 5: return static_cast<int32_t>(static_cast<uint32_t>(rng()));
        default: return static_cast<int32_t>(below(rng, 11)) - 2;
    }
}

// An array length for the lookup and rescale tests: mostly short, so that
// the edge cases of tiny arrays come up often, sometimes a few dozen
// vector blocks long.
inline int32_t count(Rng& rng) {
    const uint64_t size_class = below(rng, 10);
    return static_cast<int32_t>(size_class < 6 ? below(rng, 20) : below(rng, 300));
}

// Bitwise equality that tells +0.0 from -0.0. Any NaN equals any NaN: the
// sign and payload of a NaN made by arithmetic (inf - inf, 0 * inf) depend on
// which operand order the compiler picked for a commutative operation, and
// IEEE-754 leaves them open.
inline bool same_bits(double a, double b) {
    if (a != a && b != b) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Number of random cases, overridable for longer soak runs.
inline long case_count(long fallback) {
    if (const char* text = std::getenv("TIDEMARK_RANDOM_CASES")) {
        const long n = std::strtol(text, nullptr, 10);
        if (n > 0) return n;
    }
    return fallback;
}

}  // namespace random_values

#endif
