#ifndef TIDEMARK_LEVELS_HLOP_H
#define TIDEMARK_LEVELS_HLOP_H

#include <cstdint>

namespace tidemark::levels {

// Merges close price levels in place; see Hlop in tidemark.h. Never throws:
// when working storage cannot be had, the arrays are left as they were.
void hlop(double* prices, int32_t* weights, int32_t count, double tolerance, int32_t mode) noexcept;

}  // namespace tidemark::levels

#endif
