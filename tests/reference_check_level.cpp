#include <cmath>
#include <cstdint>

#include "reference.h"

namespace reference {

int32_t check_level(double price, double tolerance, const double* prices, int32_t count) {
    if (count <= 0) return -1;
    for (int32_t i = 0; i < count; ++i) {
        const double d = std::fabs(prices[i] - price);
        if (d > tolerance) continue;
        return i;
    }
    return -1;
}

}  // namespace reference
