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

}  // namespace

// from_chars reads exactly as strtod would, but strtod would also skip
// leading control characters and take hexadecimal, "nan" and "inf".
bool parse_number(std::string_view s, bool decimal_comma, double& value) {
    if (s.empty() || s.size() > 400) return false;
    // Most prices have at most 15 digits and no exponent (short_decimal).
    {
        std::size_t i = s[0] == '-' || s[0] == '+' ? 1 : 0;
        uint64_t mantissa = 0;
        int digit_count = 0, decimals = 0;
        bool point = false;
        for (; i < s.size() && digit_count <= kShortDigits; ++i) {
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
        if (i == s.size() && digit_count > 0 && digit_count <= kShortDigits) {
            value = short_decimal(mantissa, decimals, s[0] == '-');
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
// The signs in UTF-8, then as Windows-1252 bytes (0x80 the euro, 0xA3 the
// pound, 0xA5 the yen: after the UTF-8 forms, whose last byte they can be),
// then the codes people write.
const std::string_view kCurrencies[] = {
    "$", "\xE2\x82\xAC" /* euro */, "\xC2\xA3" /* pound */, "\xC2\xA5" /* yen */, "\xE2\x82\xB9" /* rupee */,
    "\x80", "\xA3", "\xA5", "US$", "CHF", "Fr.", "EUR", "USD", "GBP", "JPY", "INR", "Rs.", "Rs"};
bool strip_currency(std::string_view& s) {
    const bool stripped = std::any_of(std::begin(kCurrencies), std::end(kCurrencies), [&](std::string_view sign) {
        return strip_prefix(s, sign) || strip_suffix(s, sign);
    });
    if (stripped) s = trimmed(s);
    return stripped;
}

// The spaces and marks that group thousands beside "," and ".": a no-break
// space (UTF-8 or Windows-1252) and a narrow one become a space, a right
// single quotation mark (Swiss 1’558.00) an apostrophe.
std::string plain_separators(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 2, "\xC2\xA0") == 0) {
            out += ' ';
            ++i;
        } else if (s.compare(i, 3, "\xE2\x80\xAF") == 0) {
            out += ' ';
            i += 2;
        } else if (s.compare(i, 3, "\xE2\x80\x99") == 0) {
            out += '\'';
            i += 2;
        } else if (s[i] == '\xA0') {
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

// Digits with thousands separators, to plain digits in out: groups of
// exactly three after the first of one to three, one kind of separator, and
// the decimal mark (point, or comma with decimal_comma) after them all. With
// the point, the separator may also be an apostrophe (Swiss: 1'558.00), and
// commas may group as in India: the last three digits, then twos
// (1,55,800.00). Grouping only moves the digits apart: none is read twice
// or lost, so no grouping can change a value.
bool ungrouped(std::string_view s, bool decimal_comma, std::string& out) {
    const char mark = decimal_comma ? ',' : '.';
    std::size_t pos = 0;
    if (pos < s.size() && (s[pos] == '-' || s[pos] == '+')) out += s[pos++];
    char group = 0;
    std::size_t run = 0, groups = 0;
    bool western = true, indian = true;  // groups of three; of two, then the last of three
    for (; pos < s.size(); ++pos) {
        const char c = s[pos];
        if (is_digit(c)) {
            out += c;
            ++run;
            continue;
        }
        if (c == mark) break;
        const bool separator = c == ' ' || (decimal_comma ? c == '.' : c == ',' || c == '\'');
        if (!separator || (group != 0 && c != group)) return false;
        // A leading zero is no thousands: "0,125" is a decimal comma.
        if (run == 0 || run > 3 || (groups == 0 && out[out.size() - run] == '0')) return false;
        if (groups > 0) {
            western = western && run == 3;
            indian = indian && run == 2;
        } else {
            indian = run <= 2;
        }
        group = c;
        ++groups;
        run = 0;
    }
    if (groups == 0 || run != 3 || !(western || (indian && group == ','))) return false;
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
    if (currency) strip_currency(s);
    if (!sign.empty() && !s.empty() && (s[0] == '-' || s[0] == '+')) return false;
    // What is left may be a plain number (" 2.020" in a ";" file is 2.02,
    // as "2.020" is: a point alone is the point).
    const std::string number = sign + std::string(s);
    if (parse_number(number, decimal_comma, value)) return true;
    std::string digits;
    if (!ungrouped(number, decimal_comma, digits)) return false;
    return parse_number(digits, false, value);
}


}  // namespace

bool normalised_price(std::string_view text, bool decimal_comma, double& value) {
    if (text.empty() || text.size() > 400) return false;
    if (normalised_number(text, decimal_comma, true, value)) return true;
    const bool odd = std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return odd && normalised_number(plain_separators(text), decimal_comma, true, value);
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
    if (text.size() > 8) return false;
    std::string word;
    for (char c : text) word += ascii_lower(c);
    static const char* const kMissing[] = {"", "null", "n/a", "na", "-", "--", "none", "nan", ".",
                                           // a spreadsheet's errors
                                           "#n/a", "#value!", "#div/0!", "#ref!", "#num!", "#name?", "#null!",
                                           "#n/a n/a"};
    return std::any_of(std::begin(kMissing), std::end(kMissing), [&](const char* m) { return word == m; });
}

namespace {

// Digits grouped by commas as thousands are (or as in India), the first
// group without a leading zero (ungrouped() refuses one): "1,234",
// "12,345,678", "1,55,800".
bool comma_grouped(std::string_view s) {
    const std::size_t start = s.find_first_of("0123456789");
    if (start == std::string_view::npos) return false;
    std::string digits;
    return ungrouped(s.substr(start), false, digits);
}

std::string with_line(const std::string& text, long line) {
    return "\"" + text + "\" on line " + std::to_string(line);
}

}  // namespace

bool DecimalMark::check_open(std::string_view field, const char* name, long line, std::string& why) {
    const std::size_t last_comma = field.rfind(','), point = field.find('.');
    if (last_comma == std::string_view::npos && point == std::string_view::npos) return true;
    // Built only for a message: every price of a tab file comes here.
    const auto quoted = [&] { return std::string(name) + " \"" + shown(field) + "\""; };
    if (comma_) {
        if (point == std::string_view::npos || last_comma != std::string_view::npos ||
            field.find('.', point + 1) != std::string_view::npos)
            return true;
        why = quoted() + " has a point, but this tab-separated file writes its decimals with a comma (" +
              with_line(comma_text_, comma_line_) + "): write every price one way";
        return false;
    }
    const bool thousands = last_comma == std::string_view::npos || (point != std::string_view::npos && point > last_comma) ||
                           (point == std::string_view::npos && comma_grouped(field));
    if (thousands) {
        long& seen = last_comma == std::string_view::npos ? point_line_ : grouped_line_;
        if (seen == 0) {
            seen = line;
            (last_comma == std::string_view::npos ? point_text_ : grouped_text_) = shown(field);
        }
        return true;
    }
    // A decimal comma: the file's mark, unless a price read before says
    // otherwise.
    if (point_line_ > 0) {
        why = quoted() + " has a decimal comma, but " + with_line(point_text_, point_line_) +
              " has a point: a tab-separated file takes one decimal mark";
        return false;
    }
    if (grouped_line_ > 0) {
        why = quoted() + " has a decimal comma, but " + with_line(grouped_text_, grouped_line_) +
              " was read with a thousands separator: write the prices with a point, or separate the fields "
              "with \";\"";
        return false;
    }
    comma_ = true;
    comma_line_ = line;
    comma_text_ = shown(field);
    return true;
}

}  // namespace tidemark::reader
