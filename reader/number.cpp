#include "number.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace tidemark::reader {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

}  // namespace

// from_chars reads a number exactly as strtod would, but strtod would also
// skip leading control characters and take hexadecimal, "nan" and "inf".
bool parse_number(std::string_view s, bool decimal_comma, double& value) {
    if (s.empty() || s.size() > 400) return false;
    // Most prices have at most 15 digits and no exponent: the digits are then
    // an exact integer below 2^53 and 10^k is exact, so one division rounds
    // to the same double as a full conversion.
    {
        std::size_t i = s[0] == '-' || s[0] == '+' ? 1 : 0;
        uint64_t mantissa = 0;
        int digit_count = 0, decimals = 0;
        bool point = false;
        for (; i < s.size() && digit_count <= 15; ++i) {
            const char c = s[i];
            if (is_digit(c)) {
                mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
                ++digit_count;
                decimals += point ? 1 : 0;
            } else if (!point && (c == '.' || (c == ',' && decimal_comma))) {
                point = true;
            } else {
                break;
            }
        }
        if (i == s.size() && digit_count > 0 && digit_count <= 15) {
            value = static_cast<double>(mantissa);
            if (decimals > 0) value /= kPowersOfTen[decimals];
            if (s[0] == '-') value = -value;
            return true;
        }
    }
    char buffer[401] = {};
    bool comma = false, point = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == ',' && decimal_comma && !comma) {
            comma = true;
            c = '.';
        } else if (c == '.') {
            point = true;
        } else if (!is_digit(c) && c != '+' && c != '-' && c != 'e' && c != 'E') {
            return false;
        }
        buffer[i] = c;
    }
    if (comma && point) return false;  // 1.234,5: which is the point?
    const char* first = buffer;
    const char* last = buffer + s.size();
    if (*first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+') ++first;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (end != last) return false;
    if (ec == std::errc::result_out_of_range) {
        // Overflow is unusable as a price; underflow is a tiny number, which
        // strtod gives as its subnormal or 0.
        // cppcheck-suppress unreadVariable ; strtod reads up to it
        buffer[s.size()] = '\0';
        value = std::strtod(first, nullptr);
        if (!std::isfinite(value)) return false;
    } else if (ec != std::errc()) {
        return false;
    }
    return true;
}

}  // namespace tidemark::reader
