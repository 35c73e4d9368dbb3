#ifndef TIDEMARK_LEVELS_CHECK_LEVEL_H
#define TIDEMARK_LEVELS_CHECK_LEVEL_H

#include <cstdint>

namespace tidemark::levels {

// Index of the first level i with !(|prices[i] - price| > tolerance), or -1.
// The negated test is deliberate: a distance equal to the tolerance matches,
// and so does any comparison that involves a NaN. Nothing is read when
// count <= 0.
int32_t check_level(double price, double tolerance, const double* prices, int32_t count) noexcept;

}  // namespace tidemark::levels

#endif
