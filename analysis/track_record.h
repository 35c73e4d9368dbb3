// How price behaved at each level of a run after the level formed: the
// trader's "has this level held before?". The exact rules are in
// docs/scan.md (The track record).
#ifndef TIDEMARK_ANALYSIS_TRACK_RECORD_H
#define TIDEMARK_ANALYSIS_TRACK_RECORD_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bars.h"

namespace tidemark::analysis {

struct Analysis;

struct TrackRecord {
    int64_t formed = -1;        // the bar that first confirmed a fractal of the level (its bar + depth)
    int64_t last_fractal = -1;  // the bar of the latest fractal that fed it
    // Bars after `formed` whose range reaches within the tolerance of the
    // level: low <= price + tolerance and high >= price - tolerance.
    int32_t touches = 0;
    // Of the touches, those that came from one side (the close before the
    // bar) and closed on that side again, and those that closed through the
    // level by more than the tolerance. The rest closed on the level.
    int32_t held = 0;
    int32_t broke = 0;
    int64_t last_touch = -1;  // the latest touch's bar, -1 for none
};

// Bars from the latest touch to the last of `bars`; -1 before any touch.
inline int64_t bars_since_touch(const TrackRecord& r, std::size_t bars) {
    return r.last_touch < 0 ? -1 : static_cast<int64_t>(bars) - 1 - r.last_touch;
}

// A bar touches a level when its range reaches within the tolerance of it:
// its low is at most price + tolerance and its high at least price -
// tolerance. Each half is monotonic in the price.
inline bool low_reaches(const reader::Bar& bar, double price, double tolerance) {
    return bar.low <= price + tolerance;
}
inline bool high_reaches(const reader::Bar& bar, double price, double tolerance) {
    return bar.high >= price - tolerance;
}

// What a touch at a bar came to. previous_close is the close before it.
enum class Touch { held, broke, neither };
Touch judge_touch(double previous_close, double close, double price, double tolerance);

// The touches of one level after the bar it formed at, in bar order, with
// what each came to (a chart marks them).
struct TouchAt {
    std::size_t bar;
    Touch what;
};
std::vector<TouchAt> touches_of(const std::vector<reader::Bar>& bars, double price, int64_t formed, double tolerance);

// One record per level of the analysis, from its bars and the level each
// fractal fed (fractal_levels: -1 for none).
std::vector<TrackRecord> track_records(const std::vector<reader::Bar>& bars, const Analysis& analysis,
                                       const std::vector<int32_t>& level_of);

}  // namespace tidemark::analysis

#endif
