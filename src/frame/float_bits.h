// Floating-point helpers done with integer bit operations or single SSE2
// instructions, never with the C runtime's maths: the runtime's versions
// (nextafter above all) run on the x87 unit under the host's x87 settings,
// and can trap or round differently there. The library contains no x87
// instruction except the load of StopTimer's result that the 32-bit calling
// convention requires.
#ifndef TIDEMARK_FRAME_FLOAT_BITS_H
#define TIDEMARK_FRAME_FLOAT_BITS_H

#include <cstdint>
#include <cstring>

namespace tidemark {

inline uint64_t bits_of(double d) noexcept {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}

inline double from_bits(uint64_t bits) noexcept {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

constexpr uint64_t kSignBit = uint64_t{1} << 63;
constexpr uint64_t kInfinityBits = 0x7ff0000000000000u;

// |d|, as fabs: the sign bit cleared, a NaN's payload kept.
inline double absolute(double d) noexcept { return from_bits(bits_of(d) & ~kSignBit); }

// Comparisons of two doubles given as their bits, with the results of the
// processor's ordered comparisons in the default environment, but made on
// integers: they raise no flag, cannot trap, and a denormal is never taken
// for zero, whatever the host has set. A NaN is unordered with everything.
inline bool is_nan_bits(uint64_t bits) noexcept { return (bits & ~kSignBit) > kInfinityBits; }

// A key that orders doubles that are not NaN as their values do; -0.0 and
// +0.0 share the key 0, as they compare equal.
inline int64_t order_key(uint64_t bits) noexcept {
    const uint64_t magnitude = bits & ~kSignBit;
    const uint64_t negative = 0 - (bits >> 63);  // all ones for a set sign bit
    return static_cast<int64_t>((magnitude ^ negative) - negative);
}

// a >= b, false when either is NaN.
inline bool greater_or_equal(uint64_t a, uint64_t b) noexcept {
    return !is_nan_bits(a) && !is_nan_bits(b) && order_key(a) >= order_key(b);
}

// a > b, false when either is NaN.
inline bool greater(uint64_t a, uint64_t b) noexcept {
    return !is_nan_bits(a) && !is_nan_bits(b) && order_key(a) > order_key(b);
}

// The neighbouring double towards +infinity, as nextafter(d, +inf): a NaN
// stays a NaN, +inf stays, either zero gives the smallest denormal and -inf
// gives -DBL_MAX.
inline double next_up(double d) noexcept {
    const uint64_t bits = bits_of(d);
    const uint64_t magnitude = bits & ~kSignBit;
    if (magnitude > kInfinityBits || bits == kInfinityBits) return d;
    if (magnitude == 0) return from_bits(1);
    // Positive: one step away from zero; negative: one step towards it.
    return from_bits((bits & kSignBit) == 0 ? bits + 1 : bits - 1);
}

// The neighbouring double towards -infinity, as nextafter(d, -inf).
inline double next_down(double d) noexcept { return -next_up(-d); }

// A 64-bit integer as the nearest double. On 32-bit x86 SSE2 converts only
// 32-bit integers and compilers fall back on the x87 unit, so the value goes
// over in two exact halves and one rounding addition, which rounds exactly
// as a direct conversion does.
inline double to_double(int64_t value) noexcept {
#if defined(__i386__) || defined(_M_IX86)
    const auto high = static_cast<int32_t>(static_cast<uint64_t>(value) >> 32);
    const auto low = static_cast<uint32_t>(static_cast<uint64_t>(value));
    // low as a signed int32 is off by 2^31; adding it back is exact.
    const double low_part = static_cast<double>(static_cast<int32_t>(low ^ 0x80000000u)) + 2147483648.0;
    return static_cast<double>(high) * 4294967296.0 + low_part;
#else
    return static_cast<double>(value);
#endif
}

}  // namespace tidemark

#endif
