#include "bars/fractal.h"

namespace tidemark::bars {

int32_t check_up_fractal(const BarRecord* bars, int32_t depth, int32_t shift) noexcept {
    // Nothing is read, not even the centre bar, when no neighbour is asked for.
    if (depth < 1) return 0;
    const uint64_t c = bar_read<uint64_t>(bars, shift, UpTest::kField);
    const auto qualifies = UpTest::qualifier(c);
    const auto unseen = [](double, bool, int32_t) {};
    const int32_t right = count_run(bars, shift, -1, depth, UpTest::kField, qualifies, unseen);
    const int32_t left = count_run(bars, shift, +1, depth, UpTest::kField, qualifies, unseen);
    return left < right ? left : right;
}

int32_t check_down_fractal(const BarRecord* bars, int32_t depth, int32_t shift) noexcept {
    Trace silent;
    return check_down_fractal(bars, depth, shift, silent);
}

}  // namespace tidemark::bars
