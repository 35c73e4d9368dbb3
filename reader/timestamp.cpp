#include "timestamp.h"

#include "calendar.h"
#include "text.h"

namespace tidemark::reader {
namespace {

const char* const kTimestampForms = "YYYY-MM-DD, optionally with a time, or epoch seconds";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads 1 to max_digits decimal digits at s[pos] (exactly max_digits when
// exact).
bool digits(std::string_view s, std::size_t& pos, int max_digits, bool exact, int& value) {
    value = 0;
    int n = 0;
    while (n < max_digits && pos < s.size() && is_digit(s[pos])) {
        value = value * 10 + (s[pos] - '0');
        ++pos;
        ++n;
    }
    return exact ? n == max_digits : n > 0;
}

bool valid_date(int year, int month, int day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month);
}

// "HH:MM[:SS[.fraction]]" and an optional offset, from s[pos] to the end.
// offset is in seconds east of UTC.
bool parse_clock(std::string_view s, std::size_t pos, int& hour, int& minute, int& second,
                 int64_t& offset) {
    minute = second = 0;
    offset = 0;
    if (!digits(s, pos, 2, false, hour) || pos >= s.size() || s[pos++] != ':') return false;
    if (!digits(s, pos, 2, true, minute)) return false;
    if (pos < s.size() && s[pos] == ':') {
        ++pos;
        if (!digits(s, pos, 2, true, second)) return false;
        if (pos < s.size() && (s[pos] == '.' || s[pos] == ',')) {
            // A bar record holds whole seconds: the fraction is dropped.
            ++pos;
            const std::size_t start = pos;
            while (pos < s.size() && is_digit(s[pos])) ++pos;
            if (pos == start) return false;
        }
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
    if (pos == s.size()) return true;
    if (s[pos] == 'Z' || s[pos] == 'z') return pos + 1 == s.size();
    if (s[pos] != '+' && s[pos] != '-') return false;
    const int sign = s[pos++] == '-' ? -1 : 1;
    int oh = 0, om = 0;
    if (!digits(s, pos, 2, true, oh)) return false;
    if (pos < s.size()) {
        if (s[pos] == ':') ++pos;
        if (!digits(s, pos, 2, true, om)) return false;
    }
    if (pos != s.size() || oh > 23 || om > 59) return false;
    offset = sign * (int64_t{oh} * 3600 + int64_t{om} * 60);
    return true;
}

// Epoch seconds: an optional minus, digits and an optional fraction. Values
// far beyond any date stay far beyond it (the range check reports them).
bool parse_epoch(std::string_view s, int64_t& seconds) {
    std::size_t pos = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (negative) ++pos;
    const std::size_t start = pos;
    int64_t value = 0;
    while (pos < s.size() && is_digit(s[pos])) {
        if (value < int64_t{1} << 50) value = value * 10 + (s[pos] - '0');
        ++pos;
    }
    if (pos == start) return false;
    bool fraction = false;
    if (pos < s.size() && s[pos] == '.') {
        const std::size_t frac_start = ++pos;
        while (pos < s.size() && is_digit(s[pos])) {
            fraction = fraction || s[pos] != '0';
            ++pos;
        }
        if (pos == frac_start) return false;
    }
    if (pos != s.size()) return false;
    // Whole seconds, rounded down as a date-time's fraction is.
    seconds = negative ? -value - (fraction ? 1 : 0) : value;
    return true;
}

// The earliest and latest moments a bar record holds, for messages.
std::string time_range_text() {
    return time_text(kEarliestTime, true) + " .. " + time_text(kLatestTime, true) + " UTC";
}

}  // namespace

bool parse_timestamp(std::string_view s, int64_t& seconds, bool& has_time) {
    has_time = false;
    if (s.empty()) return false;
    // The common case, YYYY-MM-DD alone, read directly.
    if (s.size() == 10 && s[4] == '-' && s[7] == '-') {
        int v[8];
        bool ok = true;
        for (int i = 0, j = 0; i < 10; ++i) {
            if (i == 4 || i == 7) continue;
            ok = ok && is_digit(s[static_cast<std::size_t>(i)]);
            v[j++] = s[static_cast<std::size_t>(i)] - '0';
        }
        const int year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3], month = v[4] * 10 + v[5],
                  day = v[6] * 10 + v[7];
        if (!ok || !valid_date(year, month, day)) return false;
        seconds = utc_seconds(year, month, day, 0, 0, 0);
        return true;
    }
    std::size_t pos = 0;
    int year = 0, month = 0, day = 0;
    // YYYYMMDD, alone or with a time; YYYY-MM-DD (or / or .); any other run
    // of digits is epoch seconds.
    std::size_t run = 0;
    while (run < s.size() && is_digit(s[run])) ++run;
    const bool compact = run == 8 && (run == s.size() || s[run] == ' ' || s[run] == 'T');
    if (compact) {
        digits(s, pos, 4, true, year);
        digits(s, pos, 2, true, month);
        digits(s, pos, 2, true, day);
    }
    if (compact && valid_date(year, month, day)) {
        // a date
    } else if (run == 4 && run < s.size() && (s[run] == '-' || s[run] == '/' || s[run] == '.')) {
        const char separator = s[run];
        digits(s, pos, 4, true, year);
        ++pos;
        if (!digits(s, pos, 2, false, month) || pos >= s.size() || s[pos++] != separator) return false;
        if (!digits(s, pos, 2, false, day) || !valid_date(year, month, day)) return false;
    } else {
        has_time = true;
        return parse_epoch(s, seconds);
    }
    int hour = 0, minute = 0, second = 0;
    int64_t offset = 0;
    if (pos < s.size()) {
        if (s[pos] != ' ' && s[pos] != 'T') return false;
        if (!parse_clock(s, pos + 1, hour, minute, second, offset)) return false;
        has_time = true;
    }
    seconds = utc_seconds(year, month, day, hour, minute, second) - offset;
    return true;
}

std::string not_a_date(std::string_view field) {
    return "date \"" + shown(field) + "\" is not a date (" + kTimestampForms + ")";
}

std::string outside_time_range(const std::string& shown_date, bool looks_like_milliseconds) {
    return "date " + shown_date + " is outside " + time_range_text() +
           ", the range of a bar record's time (int32 seconds since 1970)" +
           (looks_like_milliseconds ? "; epoch milliseconds?" : "");
}

bool bar_time(std::string_view stamp, int64_t& seconds, std::string& why) {
    bool has_time = false;
    if (!parse_timestamp(stamp, seconds, has_time)) {
        why = not_a_date(stamp);
        return false;
    }
    if (seconds < kEarliestTime || seconds > kLatestTime) {
        const bool digits_only = stamp.find_first_not_of("0123456789") == std::string_view::npos;
        why = outside_time_range(shown(stamp), digits_only && stamp.size() >= 12);
        return false;
    }
    return true;
}

}  // namespace tidemark::reader
