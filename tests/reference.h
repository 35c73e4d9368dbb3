// Test-only references: each routine written out step by step in its most
// literal form, so the library's faster code can be checked against it.
#ifndef TIDEMARK_TESTS_REFERENCE_H
#define TIDEMARK_TESTS_REFERENCE_H

#include <cstdint>

#include "tidemark.h"

namespace reference {

// Level lookup: one comparison per level, in index order.
int32_t check_level(double price, double tolerance, const double* prices, int32_t count);

// Level merging: bubble passes over a linked list, then a full closest-pair
// scan before every merge.
void hlop(double* prices, int32_t* weights, const int32_t* tags, int32_t count,
          double tolerance, int32_t mode);

// Weight rescaling in 64-bit integers: a zero denominator changes nothing,
// and products beyond int32 take the nearest limit.
void resize(int32_t span, int32_t* weights, int32_t count);

// Fractal strength: two counting loops over k = 1 ... depth and the smaller
// count. Reads the records as bytes, so any alignment will do.
int32_t check_up_fractal(const BarRecord* bars, int32_t depth, int32_t shift);
int32_t check_down_fractal(const BarRecord* bars, int32_t depth, int32_t shift);

}  // namespace reference

#endif
