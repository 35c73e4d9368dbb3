// The chart of one analysed file: plain SVG 1.1 with no scripts or external
// resources, so that any viewer or converter renders it the same.
#ifndef TIDEMARK_SCAN_SVG_H
#define TIDEMARK_SCAN_SVG_H

#include <cstddef>
#include <string>

#include "report.h"

namespace tidemark::scan {

// Levels drawn when the caller does not choose (--levels): all of them when
// there are at most kLevelsThatFit, else the heaviest first, each at least
// kLevelGap pixels from those already kept, up to kLevelsThatFit.
constexpr std::size_t kLevelsThatFit = 80;
constexpr double kLevelGap = 6;

// Candlesticks (grouped when there are more bars than room), fractal marks,
// the merged levels as lines whose thickness shows their weight, the last
// close, and dated and priced axes. Every coordinate is finite whatever the
// prices.
std::string render_svg(const Run& run);

}  // namespace tidemark::scan

#endif
