#include "number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text.h"

namespace tidemark::reader {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

}  // namespace

// from_chars reads exactly as strtod would, but strtod would also skip
// leading control characters and take hexadecimal, "nan" and "inf".
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
    if (comma && point) return false;  // normalised by the caller, if it can be
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

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// A currency sign at the start or the end of s, removed.
bool strip_prefix(std::string_view& s, std::string_view sign) {
    if (s.size() < sign.size() || s.compare(0, sign.size(), sign) != 0) return false;
    s.remove_prefix(sign.size());
    return true;
}
bool strip_suffix(std::string_view& s, std::string_view sign) {
    if (s.size() < sign.size() || s.compare(s.size() - sign.size(), sign.size(), sign) != 0) return false;
    s.remove_suffix(sign.size());
    return true;
}
const std::string_view kCurrencies[] = {"$", "\xE2\x82\xAC" /* euro */, "\xC2\xA3" /* pound */,
                                        "\xC2\xA5" /* yen */};
bool strip_currency(std::string_view& s) {
    const bool stripped = std::any_of(std::begin(kCurrencies), std::end(kCurrencies), [&](std::string_view sign) {
        return strip_prefix(s, sign) || strip_suffix(s, sign);
    });
    if (stripped) s = trimmed(s);
    return stripped;
}

// Digits with thousands separators, to plain digits in out: groups of
// exactly three after the first of one to three, one kind of separator, and
// the decimal mark (point, or comma with decimal_comma) after them all.
bool ungrouped(std::string_view s, bool decimal_comma, std::string& out) {
    const char mark = decimal_comma ? ',' : '.';
    std::size_t pos = 0;
    if (pos < s.size() && (s[pos] == '-' || s[pos] == '+')) out += s[pos++];
    char group = 0;
    std::size_t run = 0, groups = 0;
    for (; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (is_digit(c)) {
            out += c;
            ++run;
            continue;
        }
        if (c == mark) break;
        const bool separator = c == ' ' || (decimal_comma ? c == '.' : c == ',');
        if (!separator || (group != 0 && c != group)) return false;
        if (run == 0 || run > 3 || (groups > 0 && run != 3)) return false;
        group = c;
        ++groups;
        run = 0;
    }
    if (groups == 0 || run != 3) return false;
    if (pos < s.size()) {
        out += '.';
        ++pos;
        const std::size_t start = pos;
        for (; pos < s.size(); ++pos) {
            if (!is_digit(s[pos])) return false;
            out += s[pos];
        }
        if (pos == start) return false;
    }
    return true;
}

// What parse_price takes beyond a plain number.
bool normalised_number(std::string_view s, bool decimal_comma, bool currency, double& value) {
    s = trimmed(s);
    std::string sign;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        // -$1.50
        sign = s.substr(0, 1);
        s.remove_prefix(1);
    }
    bool stripped = false;
    if (currency) stripped = strip_currency(s);
    if (!sign.empty() && !s.empty() && (s[0] == '-' || s[0] == '+')) return false;
    if (stripped && parse_number(sign + std::string(s), decimal_comma, value)) return true;
    std::string digits;
    if (!ungrouped(sign + std::string(s), decimal_comma, digits)) return false;
    return parse_number(digits, false, value);
}


}  // namespace

bool normalised_price(std::string_view text, bool decimal_comma, double& value) {
    if (text.empty() || text.size() > 400) return false;
    return normalised_number(text, decimal_comma, true, value);
}

bool normalised_volume(std::string_view text, bool decimal_comma, double& value) {
    text = trimmed(text);
    if (text.empty() || text.size() > 400) return false;
    int shift = 0;
    switch (ascii_lower(text.back())) {
        case 'k': shift = 3; break;
        case 'm': shift = 6; break;
        case 'b': shift = 9; break;
        default: break;
    }
    if (shift == 0) return normalised_number(text, decimal_comma, false, value);
    text = trimmed(text.substr(0, text.size() - 1));
    // 9.93M: the point moves six places, so that the digits are read once.
    // Before the suffix, a number of digits alone: "M" or "1.2.3M" or
    // "1e3K" is no volume.
    std::string digits;
    if (!ungrouped(text, decimal_comma, digits)) {
        double plain = 0;
        if (text.find_first_of("eE") != std::string_view::npos || !parse_number(text, decimal_comma, plain))
            return false;
        digits.clear();
        for (char c : text) digits += decimal_comma && c == ',' ? '.' : c;
    }
    if (!digits.empty() && digits[0] == '+') digits.erase(0, 1);
    std::string sign;
    if (!digits.empty() && digits[0] == '-') {
        sign = "-";
        digits.erase(0, 1);
    }
    std::size_t point = digits.find('.');
    if (point == std::string::npos) point = digits.size();
    else digits.erase(point, 1);
    for (std::size_t k = digits.size() - point; k < static_cast<std::size_t>(shift); ++k) digits += '0';
    digits.insert(point + static_cast<std::size_t>(shift), ".");
    if (digits.back() == '.') digits.pop_back();
    if (digits.find_first_not_of("0123456789.") != std::string::npos) return false;
    return parse_number(sign + digits, false, value);
}

bool missing_value(std::string_view text) {
    text = trimmed(text);
    if (text.size() > 4) return false;
    std::string word;
    for (char c : text) word += ascii_lower(c);
    return word.empty() || word == "null" || word == "n/a" || word == "na" || word == "-" || word == "--" ||
           word == "none" || word == "nan";
}

}  // namespace tidemark::reader
