#ifndef TIDEMARK_LEVELS_RESIZE_H
#define TIDEMARK_LEVELS_RESIZE_H

#include <cstdint>

namespace tidemark::levels {

// Rescales the weights in place by |span - 1| / |max - min/10 - min|, each
// product truncated toward zero and saturated to int32. A zero denominator
// leaves the weights as they were. Nothing is touched when count <= 0.
void resize(int32_t span, int32_t* weights, int32_t count) noexcept;

}  // namespace tidemark::levels

#endif
