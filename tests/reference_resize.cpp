#include <cmath>
#include <cstdint>

#include "reference.h"

namespace reference {

void resize(int32_t span, int32_t* weights, int32_t count) {
    if (count <= 0) return;
    int32_t min = weights[0];
    int32_t max = weights[0];
    for (int32_t i = 0; i < count; ++i) {
        if (weights[i] < min) min = weights[i];
        if (weights[i] > max) max = weights[i];
    }
    const int32_t cut = min / 10;
    const int64_t denominator = static_cast<int64_t>(max) - static_cast<int64_t>(cut) -
                                static_cast<int64_t>(min);
    if (denominator == 0) return;
    const int64_t span_less_one = static_cast<int64_t>(span) - 1;
    const double top = std::fabs(static_cast<double>(span_less_one));
    const double bottom = std::fabs(static_cast<double>(denominator));
    const double factor = top / bottom;
    for (int32_t i = 0; i < count; ++i) {
        const double product = static_cast<double>(weights[i]) * factor;
        // |product| <= 2^31 * 2^31 here, so the 64-bit truncation is defined.
        const int64_t truncated = static_cast<int64_t>(std::trunc(product));
        if (truncated > INT32_MAX) weights[i] = INT32_MAX;
        else if (truncated < INT32_MIN) weights[i] = INT32_MIN;
        else weights[i] = static_cast<int32_t>(truncated);
    }
}

}  // namespace reference
