#ifndef TIDEMARK_LEVELS_WEIGHTS_H
#define TIDEMARK_LEVELS_WEIGHTS_H

#include <cstdint>
#include <limits>

namespace tidemark::levels {

// Weight sums saturate at the int32 limits: a wrapped sum would turn the
// heaviest level into the lightest.
inline int32_t saturating_add(int32_t a, int32_t b) noexcept {
    const int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (sum < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(sum);
}

}  // namespace tidemark::levels

#endif
