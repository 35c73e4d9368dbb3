#include <cstdint>
#include <cstring>

#include "reference.h"

namespace reference {
namespace {

double read_double(const BarRecord* bars, int64_t index, int byte_offset) {
    const unsigned char* record = reinterpret_cast<const unsigned char*>(bars) + index * 44;
    double value;
    std::memcpy(&value, record + byte_offset, 8);
    return value;
}

double high(const BarRecord* bars, int64_t index) { return read_double(bars, index, 20); }
double low(const BarRecord* bars, int64_t index) { return read_double(bars, index, 12); }

}  // namespace

int32_t check_up_fractal(const BarRecord* bars, int32_t depth, int32_t shift) {
    if (depth < 1) return 0;
    const double c = high(bars, shift);
    int32_t right = 0;
    for (int64_t k = 1; k <= depth; ++k) {
        if (c >= high(bars, shift - k)) right = right + 1;
        else break;
    }
    int32_t left = 0;
    for (int64_t k = 1; k <= depth; ++k) {
        if (c >= high(bars, shift + k)) left = left + 1;
        else break;
    }
    if (left < right) return left;
    return right;
}

int32_t check_down_fractal(const BarRecord* bars, int32_t depth, int32_t shift) {
    if (depth < 1) return 0;
    const double c = low(bars, shift);
    int32_t right = 0;
    for (int64_t k = 1; k <= depth; ++k) {
        if (c > low(bars, shift - k)) break;
        right = right + 1;
    }
    int32_t left = 0;
    for (int64_t k = 1; k <= depth; ++k) {
        if (c > low(bars, shift + k)) break;
        left = left + 1;
    }
    if (left < right) return left;
    return right;
}

}  // namespace reference
