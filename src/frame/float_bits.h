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

// The doubles below a given one, or at most it, as a set of bit patterns,
// for comparisons made on integers: they raise no flag, cannot trap, and a
// denormal is never taken for zero, whatever the host has set, while giving
// the processor's ordered comparisons in the default environment. A NaN is
// unordered with everything, so it is in no such set, and a NaN bound has an
// empty one. The set is at most two ranges of patterns (the positive values
// up to the bound, all the negative ones from -0.0 to -inf), each tested
// with one unsigned subtraction and compare, without a branch.
class OrderedBelow {
public:
    // The doubles x with x <= bound, both zeros alike.
    static OrderedBelow at_most(uint64_t bound) noexcept {
        if (is_nan(bound)) return OrderedBelow{};
        if ((bound & kSignBit) == 0 || bound == kSignBit)  // +0.0 ... +inf, or -0.0
            return OrderedBelow{0, bound & ~kSignBit, kSignBit, kNegativeInfinityBits};
        return OrderedBelow{bound, kNegativeInfinityBits};  // from bound down to -inf
    }

    // The doubles x with x < bound.
    static OrderedBelow below(uint64_t bound) noexcept {
        if (is_nan(bound)) return OrderedBelow{};
        if ((bound & ~kSignBit) == 0)  // either zero: the negative values but -0.0
            return OrderedBelow{kSignBit + 1, kNegativeInfinityBits};
        if ((bound & kSignBit) == 0)  // positive: up to the next pattern below, and every negative
            return OrderedBelow{0, bound - 1, kSignBit, kNegativeInfinityBits};
        // Negative: the patterns from the next one below it down to -inf
        // (none below -inf itself: the range then has size 0).
        return OrderedBelow{bound + 1, kNegativeInfinityBits};
    }

    bool contains(uint64_t x) const noexcept {
        return ((x - first_low_) < first_size_) | ((x - second_low_) < second_size_);
    }

private:
    static constexpr uint64_t kNegativeInfinityBits = 0xfff0000000000000u;

    static bool is_nan(uint64_t bits) noexcept { return (bits & ~kSignBit) > kInfinityBits; }

    OrderedBelow() noexcept = default;  // empty: both ranges hold nothing
    OrderedBelow(uint64_t low, uint64_t high) noexcept : first_low_(low), first_size_(high - low + 1) {}
    OrderedBelow(uint64_t low, uint64_t high, uint64_t low2, uint64_t high2) noexcept
        : first_low_(low), first_size_(high - low + 1), second_low_(low2), second_size_(high2 - low2 + 1) {}

    // Ranges of patterns [low, low + size); no range reaches 2^64 patterns.
    uint64_t first_low_ = 0;
    uint64_t first_size_ = 0;
    uint64_t second_low_ = 0;
    uint64_t second_size_ = 0;
};

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
