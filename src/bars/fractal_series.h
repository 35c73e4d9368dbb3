// Fractal strengths of a whole series at once, for callers that hold the
// highs and lows as plain arrays rather than as the host's records.
#ifndef TIDEMARK_BARS_FRACTAL_SERIES_H
#define TIDEMARK_BARS_FRACTAL_SERIES_H

#include <cstddef>
#include <cstdint>

namespace tidemark::bars {

// up[i] and down[i] become what CheckUpFractal and CheckDownFractal give for
// bar i of the same series laid out as records: 0 where the bar lacks depth
// neighbours on either side, and everywhere when depth < 1. The direction of
// the series does not matter (a strength is the shorter of its two runs, and
// reversing the series swaps them), so high and low may be oldest first.
// The four arrays hold count elements each. It compares with SSE2 where it
// can, so its caller holds frame::DefaultFloatingPoint, as an export would.
void fractal_strengths(const double* high, const double* low, std::size_t count, int32_t depth,
                       int32_t* up, int32_t* down) noexcept;

}  // namespace tidemark::bars

#endif
