// The values every test reaches for: the special doubles and the int32
// limits, and the bitwise comparison of results.
#ifndef TIDEMARK_TESTS_NUMBERS_H
#define TIDEMARK_TESTS_NUMBERS_H

#include <cstdint>
#include <cstring>
#include <limits>

namespace numbers {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kTiny = std::numeric_limits<double>::denorm_min();  // the smallest subnormal
inline constexpr double kMaxDouble = std::numeric_limits<double>::max();
// The int32 limits, the edges of every weight, count, depth and shift.
inline constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
inline constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

// Bitwise equality that tells +0.0 from -0.0. Any NaN equals any NaN: the
// sign and payload of a NaN made by arithmetic (inf - inf, 0 * inf) depend on
// which operand order the compiler picked for a commutative operation, and
// IEEE-754 leaves them open.
inline bool same_bits(double a, double b) {
    if (a != a && b != b) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace numbers

#endif
