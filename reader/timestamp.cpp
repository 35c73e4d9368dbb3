#include "timestamp.h"

#include <cmath>
#include <cstdio>
#include <type_traits>

#include "calendar.h"
#include "text.h"

namespace tidemark::reader {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A run of digits at s[pos]: its value (capped, so that a long run cannot
// overflow) and length.
std::size_t digit_run(std::string_view s, std::size_t pos, int64_t& value) {
    value = 0;
    std::size_t n = 0;
    while (pos + n < s.size() && is_digit(s[pos + n])) {
        if (value < int64_t{1} << 50) value = value * 10 + (s[pos + n] - '0');
        ++n;
    }
    return n;
}

// Exactly n digits at s[pos].
bool fixed_digits(std::string_view s, std::size_t& pos, int n, int& value) {
    value = 0;
    for (int i = 0; i < n; ++i, ++pos) {
        if (pos >= s.size() || !is_digit(s[pos])) return false;
        value = value * 10 + (s[pos] - '0');
    }
    return true;
}

// A word of letters at s[pos], lower-cased, and its length.
std::size_t word_at(std::string_view s, std::size_t pos, std::string& word) {
    word.clear();
    std::size_t n = 0;
    while (pos + n < s.size() && is_letter(s[pos + n]) && n < 12) word += ascii_lower(s[pos + ++n - 1]);
    return n;
}

// January is 1; 0 for a word that is no English month (three letters or the
// whole name, and "sept").
int month_of(const std::string& word) {
    static const char* const kNames[] = {"january", "february", "march",     "april",   "may",      "june",
                                         "july",    "august",   "september", "october", "november", "december"};
    if (word.size() < 3) return 0;
    if (word == "sept") return 9;
    for (int m = 0; m < 12; ++m) {
        const std::string_view name = kNames[m];
        if (word.size() == 3 ? name.compare(0, 3, word) == 0 : name == word) return m + 1;
    }
    return 0;
}

bool weekday(const std::string& word) {
    static const char* const kNames[] = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
    for (const char* name : kNames) {
        const std::string_view n = name;
        if (word == n || (word.size() == 3 && n.compare(0, 3, word) == 0)) return true;
    }
    return false;
}

// A year of two or four digits at s[pos]; five or more is its own problem.
DateProblem year_at(std::string_view s, std::size_t& pos, int& year) {
    int64_t v = 0;
    const std::size_t n = digit_run(s, pos, v);
    if (n >= 5) return DateProblem::five_digit_year;
    if (n != 2 && n != 4) return DateProblem::not_a_date;
    pos += n;
    year = n == 2 ? full_year(static_cast<int>(v)) : static_cast<int>(v);
    return DateProblem::none;
}

// YYYY-MM-DD alone, the common case, read directly.
bool plain_iso(std::string_view s, int& year, int& month, int& day) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    int v[8];
    bool ok = true;
    for (std::size_t i = 0, j = 0; i < 10; ++i) {
        if (i == 4 || i == 7) continue;
        ok = ok && is_digit(s[i]);
        v[j++] = s[i] - '0';
    }
    year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
    month = v[4] * 10 + v[5];
    day = v[6] * 10 + v[7];
    return ok;
}

bool valid_day(int year, int month, int day) {
    return month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month);
}

// The time of day and what follows it, from s[pos] to the end:
// HH:MM[:SS[.fraction]], HHMMSS or HHMM, then AM/PM, then Z, UTC or GMT
// and an offset +hh:mm, +hhmm or +hh, each optional but the clock.
bool clock_at(std::string_view s, std::size_t pos, WrittenTime& w) {
    int hour = 0, minute = 0, second = 0;
    int64_t run = 0;
    const std::size_t n = digit_run(s, pos, run);
    if ((n == 1 || n == 2) && pos + n < s.size() && s[pos + n] == ':') {
        hour = static_cast<int>(run);
        pos += n + 1;
        if (!fixed_digits(s, pos, 2, minute)) return false;
        if (pos < s.size() && s[pos] == ':') {
            ++pos;
            if (!fixed_digits(s, pos, 2, second)) return false;
            if (pos < s.size() && (s[pos] == '.' || s[pos] == ',')) {
                // A bar record holds whole seconds: the fraction is dropped.
                const std::size_t start = ++pos;
                while (pos < s.size() && is_digit(s[pos])) ++pos;
                if (pos == start) return false;
            }
        }
    } else if (n == 4 || n == 6) {
        fixed_digits(s, pos, 2, hour);
        fixed_digits(s, pos, 2, minute);
        if (n == 6) fixed_digits(s, pos, 2, second);
    } else {
        return false;
    }
    std::size_t at = pos;
    while (at < s.size() && s[at] == ' ') ++at;
    std::string word;
    const std::size_t letters = word_at(s, at, word);
    if (word == "am" || word == "pm") {
        if (hour < 1 || hour > 12) return false;
        hour = hour % 12 + (word == "pm" ? 12 : 0);
        pos = at + letters;
        at = pos;
        while (at < s.size() && s[at] == ' ') ++at;
        word_at(s, at, word);
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
    w.has_time = true;
    w.clock = hour * 3600 + minute * 60 + second;
    if (word == "z" || word == "utc" || word == "gmt") {
        pos = at + word.size();
        if (pos == s.size()) return true;
    }
    if (pos == s.size()) return true;
    if (s[pos] != '+' && s[pos] != '-') return false;
    const int sign = s[pos++] == '-' ? -1 : 1;
    int oh = 0, om = 0;
    if (!fixed_digits(s, pos, 2, oh)) return false;
    if (pos < s.size()) {
        if (s[pos] == ':') ++pos;
        if (!fixed_digits(s, pos, 2, om)) return false;
    }
    if (pos != s.size() || oh > 23 || om > 59) return false;
    w.offset = sign * (oh * 3600 + om * 60);
    return true;
}

// What follows a date: nothing, a time after a space, "T" or ", ", or a
// zone name alone.
DateProblem rest_at(std::string_view s, std::size_t pos, WrittenTime& w) {
    if (pos == s.size()) return DateProblem::none;
    std::size_t at = pos;
    if (s[at] == 'T' || s[at] == 't') {
        ++at;
    } else {
        if (s[at] == ',') ++at;
        const std::size_t spaces = at;
        while (at < s.size() && s[at] == ' ') ++at;
        if (at == spaces && at == pos) return DateProblem::not_a_date;
        std::string word;
        word_at(s, at, word);
        if ((word == "utc" || word == "gmt" || word == "z") && at + word.size() == s.size())
            return DateProblem::none;
    }
    return clock_at(s, at, w) ? DateProblem::none : DateProblem::bad_time;
}

// Epoch seconds or a spreadsheet day number: an optional minus, digits and
// an optional fraction, nothing else. Fractions of a second are dropped
// (rounded down); a day number's fraction is its time of day.
bool plain_number(std::string_view s, WrittenTime& w) {
    std::size_t pos = 0;
    const bool negative = !s.empty() && s[0] == '-';
    if (negative) ++pos;
    // The count exactly, up to the 19 digits of epoch nanoseconds (an
    // unsigned 64-bit number holds them all); more are a count of digits
    // alone, and never a time.
    uint64_t whole = 0;
    int significant = 0;
    std::size_t n = 0;
    for (; pos + n < s.size() && is_digit(s[pos + n]); ++n) {
        if (significant == 0 && s[pos + n] == '0') continue;
        if (++significant <= 19) whole = whole * 10 + static_cast<uint64_t>(s[pos + n] - '0');
    }
    if (n == 0) return false;
    pos += n;
    int64_t numerator = 0, denominator = 1;
    bool fraction = false;
    if (pos < s.size() && s[pos] == '.') {
        const std::size_t start = ++pos;
        while (pos < s.size() && is_digit(s[pos])) {
            fraction = fraction || s[pos] != '0';
            if (denominator < int64_t{1} << 40) {
                numerator = numerator * 10 + (s[pos] - '0');
                denominator *= 10;
            }
            ++pos;
        }
        if (pos == start) return false;
    }
    if (pos != s.size()) return false;
    w.has_time = true;
    // Day numbers of the dates a bar can hold have five digits at most; an
    // epoch second that short is a moment of 1970-01-02 at the latest.
    if (!negative && n <= 5) {
        w.kind = WrittenTime::Kind::serial;
        w.seconds = static_cast<int64_t>(whole) * 86400 + numerator * 86400 / denominator;
        return true;
    }
    w.kind = WrittenTime::Kind::epoch;
    w.negative = negative;
    w.magnitude = whole;
    w.digits = significant == 0 ? 1 : significant;
    w.fraction = fraction;
    return true;
}

// The digits of a unit's epoch times from 2001-09-09 on.
int unit_digits(EpochUnit unit) {
    switch (unit) {
        case EpochUnit::ms: return 13;
        case EpochUnit::us: return 16;
        case EpochUnit::ns: return 19;
        default: return 10;
    }
}

// A later value of a column whose unit is settled: its own digits tell the
// same unit, or one digit fewer (a series that crosses 2001-09-09, the day
// milliseconds grew from 12 digits to 13).
bool epoch_digits_fit(EpochUnit settled, int digits) {
    if (epoch_unit_of_digits(digits) == settled) return true;
    return settled != EpochUnit::seconds && digits == unit_digits(settled) - 1;
}

DateOrder order_of_unit(EpochUnit unit) {
    switch (unit) {
        case EpochUnit::ms: return DateOrder::ms;
        case EpochUnit::us: return DateOrder::us;
        case EpochUnit::ns: return DateOrder::ns;
        default: return DateOrder::automatic;
    }
}

std::string epoch_digits_text(const std::string& quoted_value, int digits, const OptionSpelling& spelling) {
    return "date " + quoted_value + " has " + std::to_string(digits) +
           " digits, which tell no unit of epoch time (seconds have up to 10 digits, milliseconds 13, "
           "microseconds 16, nanoseconds 19): pass " + spelling.with(spelling.dates, "ms") + ", " +
           (spelling.keywords ? "'us'" : "us") + " or " + (spelling.keywords ? "'ns'" : "ns") + " to choose";
}

std::string epoch_unlike_text(const std::string& quoted_value, int digits, EpochUnit unit, const std::string& first,
                              const std::string& where) {
    return "date " + quoted_value + " has " + std::to_string(digits) + " digits, unlike the " + epoch_unit_name(unit) +
           " of " + first + " " + where + ": one form must hold for the whole file";
}

// Monday of ISO week 1 is the Monday on or before January 4th.
int64_t iso_week_start(int year, int week) {
    const int64_t jan4 = utc_seconds(year, 1, 4, 0, 0, 0) / 86400;
    const int64_t day_of_week = ((jan4 % 7) + 7 + 3) % 7;  // 0 Monday: 1970-01-01 was a Thursday
    return (jan4 - day_of_week + 7 * static_cast<int64_t>(week - 1)) * 86400;
}

// 53 when the year starts on a Thursday, or on a Wednesday in a leap year.
int iso_weeks(int year) {
    const int64_t jan1 = utc_seconds(year, 1, 1, 0, 0, 0) / 86400;
    const int64_t day_of_week = ((jan1 % 7) + 7 + 3) % 7;
    return day_of_week == 3 || (day_of_week == 2 && leap_year(year)) ? 53 : 52;
}

// A week (W09) or a quarter (Q1) of year at s[pos], to the end of s.
DateProblem week_or_quarter(std::string_view s, std::size_t pos, int year, WrittenTime& w) {
    const char letter = static_cast<char>(ascii_lower(s[pos]));
    int64_t v = 0;
    const std::size_t n = digit_run(s, pos + 1, v);
    if (pos + 1 + n != s.size()) return DateProblem::not_a_date;
    w.year = year;
    w.first = static_cast<int>(v);
    if (letter == 'w' && n == 2) {
        w.kind = WrittenTime::Kind::week;
        return v >= 1 && v <= iso_weeks(year) ? DateProblem::none : DateProblem::no_such_day;
    }
    if (letter == 'q' && n == 1) {
        w.kind = WrittenTime::Kind::quarter;
        return v >= 1 && v <= 4 ? DateProblem::none : DateProblem::no_such_day;
    }
    return DateProblem::not_a_date;
}

// 2003-02, 2003/02, 2003-W09, 2003W09, 2003-Q1, 2003Q1, 2003 Q1: a period
// after a year of four digits (none: not one of them, read on as a date).
bool year_then_period(std::string_view s, int year, WrittenTime& w, DateProblem& problem) {
    if (s.size() < 6) return false;
    const char after = s[4], next = static_cast<char>(ascii_lower(s[5]));
    const char compact = static_cast<char>(ascii_lower(after));
    if (compact == 'w' || compact == 'q') {
        problem = week_or_quarter(s, 4, year, w);
        return true;
    }
    if ((after == '-' || after == '/' || (after == ' ' && next == 'q')) && (next == 'w' || next == 'q')) {
        problem = week_or_quarter(s, 5, year, w);
        return true;
    }
    if (after != '-' && after != '/') return false;
    int64_t month = 0;
    const std::size_t n = digit_run(s, 5, month);
    if ((n != 1 && n != 2) || 5 + n != s.size()) return false;
    w.kind = WrittenTime::Kind::month;
    w.year = year;
    w.first = static_cast<int>(month);
    problem = month >= 1 && month <= 12 ? DateProblem::none : DateProblem::no_such_day;
    return true;
}

// One of "-", "/", "." or a space between the parts of a date, and the
// spaces after it.
bool skip_separator(std::string_view s, std::size_t& pos) {
    if (pos >= s.size() || (s[pos] != '-' && s[pos] != '/' && s[pos] != '.' && s[pos] != ' ')) return false;
    ++pos;
    while (pos < s.size() && s[pos] == ' ') ++pos;
    return true;
}

// 19-Sep-03, 19 Sep 2003, 19.Sep.2003: a day, a month name and a year.
DateProblem day_month_year(std::string_view s, std::size_t pos, int day, WrittenTime& w) {
    std::string word;
    const std::size_t letters = word_at(s, pos, word);
    const int month = month_of(word);
    if (month == 0) return DateProblem::not_a_date;
    pos += letters;
    if (pos < s.size() && s[pos] == '.' && pos + 1 < s.size() && (s[pos + 1] == ' ' || s[pos + 1] == '-')) ++pos;
    if (!skip_separator(s, pos)) return DateProblem::not_a_date;
    w.kind = WrittenTime::Kind::named;
    w.first = month;
    w.second = day;
    if (const DateProblem p = year_at(s, pos, w.year); p != DateProblem::none) return p;
    return rest_at(s, pos, w);
}

// Sep 19, 2003 and Sep 19 2003: a month name, a day and a year.
DateProblem month_day_year(std::string_view s, std::size_t pos, WrittenTime& w) {
    std::string word;
    std::size_t letters = word_at(s, pos, word);
    if (weekday(word)) {
        // "Fri, 19 Sep 2003" or "Friday, September 19, 2003"
        pos += letters;
        if (pos < s.size() && s[pos] == ',') ++pos;
        while (pos < s.size() && s[pos] == ' ') ++pos;
        int64_t day = 0;
        const std::size_t n = digit_run(s, pos, day);
        if (n == 1 || n == 2) {
            pos += n;
            if (pos >= s.size() || (s[pos] != ' ' && s[pos] != '-')) return DateProblem::not_a_date;
            return day_month_year(s, pos + 1, static_cast<int>(day), w);
        }
        letters = word_at(s, pos, word);
    }
    if (word == "q" && pos + letters < s.size() && is_digit(s[pos + letters])) {
        // Q1 2003, Q1-2003
        const int quarter = s[pos + letters] - '0';
        std::size_t at = pos + letters + 1;
        if (!skip_separator(s, at)) return DateProblem::not_a_date;
        int year = 0;
        if (s.size() != at + 4 || !fixed_digits(s, at, 4, year)) return DateProblem::not_a_date;
        w.kind = WrittenTime::Kind::quarter;
        w.year = year;
        w.first = quarter;
        return quarter >= 1 && quarter <= 4 ? DateProblem::none : DateProblem::no_such_day;
    }
    const int month = month_of(word);
    if (month == 0) return DateProblem::not_a_date;
    pos += letters;
    if (pos < s.size() && s[pos] == '.') ++pos;
    if (!skip_separator(s, pos)) return DateProblem::not_a_date;
    int64_t day = 0;
    const std::size_t n = digit_run(s, pos, day);
    if (n == 2 && pos + 2 == s.size()) return DateProblem::month_and_two;
    if (n == 4 && pos + 4 == s.size()) {
        // Feb 2003, February 2003: a month.
        w.kind = WrittenTime::Kind::month;
        w.year = static_cast<int>(day);
        w.first = month;
        return DateProblem::none;
    }
    if (n != 1 && n != 2) return DateProblem::not_a_date;
    pos += n;
    const bool comma = pos < s.size() && s[pos] == ',';
    if (comma) ++pos;
    if (!skip_separator(s, pos) && !comma) return DateProblem::not_a_date;
    w.kind = WrittenTime::Kind::named;
    w.first = month;
    w.second = static_cast<int>(day);
    if (const DateProblem p = year_at(s, pos, w.year); p != DateProblem::none) return p;
    return rest_at(s, pos, w);
}

const char* order_name(DateOrder order) {
    switch (order) {
        case DateOrder::dmy: return "day/month";
        case DateOrder::ymd: return "year first";
        default: return "month/day";
    }
}

std::string iso_date(int year, int month, int day) {
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return n > 0 ? std::string(text) : std::string();
}

std::string quoted(std::string_view field) { return "\"" + shown(field) + "\""; }

const char* kind_name(WrittenTime::Kind kind) {
    switch (kind) {
        case WrittenTime::Kind::ymd: return "year first";
        case WrittenTime::Kind::numeric: return "with day and month in numbers";
        case WrittenTime::Kind::named: return "with the month's name";
        case WrittenTime::Kind::epoch: return "as epoch seconds";
        case WrittenTime::Kind::serial: return "as day numbers";
        case WrittenTime::Kind::week: return "as a week";
        case WrittenTime::Kind::month: return "as a month";
        case WrittenTime::Kind::quarter: return "as a quarter";
    }
    return "";
}

}  // namespace

bool time_of_day(std::string_view s) {
    WrittenTime w;
    return !s.empty() && clock_at(s, 0, w);
}

bool date_order_from_text(std::string_view text, DateOrder& order) {
    if (text == "ms") order = DateOrder::ms;
    else if (text == "us") order = DateOrder::us;
    else if (text == "ns") order = DateOrder::ns;
    else if (text == "mdy") order = DateOrder::mdy;
    else if (text == "dmy") order = DateOrder::dmy;
    else if (text == "ymd") order = DateOrder::ymd;
    else if (text == "serial") order = DateOrder::serial;
    else return false;
    return true;
}

int full_year(int two_digits) { return two_digits >= 69 ? 1900 + two_digits : 2000 + two_digits; }

DateProblem read_written_time(std::string_view s, WrittenTime& w) {
    w = WrittenTime{};
    if (plain_iso(s, w.year, w.first, w.second))
        return valid_day(w.year, w.first, w.second) ? DateProblem::none : DateProblem::no_such_day;
    if (s.empty()) return DateProblem::not_a_date;
    if (is_letter(s[0])) return month_day_year(s, 0, w);
    int64_t lead = 0;
    const std::size_t run = digit_run(s, 0, lead);
    if (run == 0) return plain_number(s, w) ? DateProblem::none : DateProblem::not_a_date;
    const char after = run < s.size() ? s[run] : '\0';
    std::size_t pos = 0;
    DateProblem period = DateProblem::none;
    if (run == 4 && year_then_period(s, static_cast<int>(lead), w, period)) return period;
    if (run == 6 && after == '\0' && lead / 100 >= 1800 && lead / 100 < 2200 && lead % 100 >= 1 && lead % 100 <= 12) {
        // 200302: a month, or epoch seconds of 1970-01-03? Neither is read.
        plain_number(s, w);
        w.year = static_cast<int>(lead / 100);
        w.first = static_cast<int>(lead % 100);
        return DateProblem::month_or_epoch;
    }
    if (run == 8 && (after == '\0' || after == ' ' || after == 'T')) {
        // 20030227, unless it is no date: then epoch seconds.
        fixed_digits(s, pos, 4, w.year);
        fixed_digits(s, pos, 2, w.first);
        fixed_digits(s, pos, 2, w.second);
        if (valid_day(w.year, w.first, w.second)) return rest_at(s, pos, w);
        w = WrittenTime{};
        return plain_number(s, w) ? DateProblem::none : DateProblem::not_a_date;
    }
    const bool separator = after == '-' || after == '/' || after == '.';
    // 20030-02-27 or 20030.02.27, but not 37679.5, a day number and a time.
    if (run >= 5 && separator && (after != '.' || s.find('.', run + 1) != std::string_view::npos))
        return DateProblem::five_digit_year;
    if (run == 4 && separator) {
        // 2003-02-27, 2003/2/27, 2003.02.27
        pos = run + 1;
        w.year = static_cast<int>(lead);
        int64_t v = 0;
        std::size_t n = digit_run(s, pos, v);
        if (n < 1 || n > 2 || pos + n >= s.size() || s[pos + n] != after) return DateProblem::not_a_date;
        w.first = static_cast<int>(v);
        pos += n + 1;
        n = digit_run(s, pos, v);
        if (n < 1 || n > 2) return DateProblem::not_a_date;
        w.second = static_cast<int>(v);
        if (!valid_day(w.year, w.first, w.second)) return DateProblem::no_such_day;
        return rest_at(s, pos + n, w);
    }
    if ((run == 1 || run == 2) && (separator || after == ' ')) {
        pos = run + 1;
        if (pos < s.size() && is_letter(s[pos])) return day_month_year(s, pos, static_cast<int>(lead), w);
        if (after == ' ') return DateProblem::not_a_date;
        // 02/27/2003, 27.02.2003, 27-02-03; or 03-02-27, year first
        int64_t v = 0;
        const std::size_t n = digit_run(s, pos, v);
        if (n < 1 || n > 2 || pos + n >= s.size() || s[pos + n] != after) return DateProblem::not_a_date;
        pos += n + 1;
        w.kind = WrittenTime::Kind::numeric;
        w.first = static_cast<int>(lead);
        w.second = static_cast<int>(v);
        int64_t last = 0;
        const std::size_t m = digit_run(s, pos, last);
        if (m >= 5) return DateProblem::five_digit_year;
        if (m == 2) {
            // A two-digit year, written last unless --dates ymd says first.
            w.year = full_year(static_cast<int>(last));
            w.all_two_digits = true;
        } else if (m == 4) {
            w.year = static_cast<int>(last);
        } else {
            return DateProblem::not_a_date;
        }
        pos += m;
        if (w.first < 1 || w.first > 31 || w.second < 1 || w.second > 31) return DateProblem::no_such_day;
        return rest_at(s, pos, w);
    }
    return plain_number(s, w) ? DateProblem::none : DateProblem::not_a_date;
}

bool local_seconds(const WrittenTime& w, DateOrder order, int64_t& seconds) {
    int year = w.year, month = w.first, day = w.second;
    switch (w.kind) {
        case WrittenTime::Kind::epoch: {
            EpochUnit unit = epoch_unit_of(order);
            if (unit == EpochUnit::none) unit = epoch_unit_of_digits(w.digits);
            if (unit == EpochUnit::none) return false;
            // Outside a record's time: the caller says so, with the date.
            if (w.digits > 19 || !epoch_to_seconds(w.negative, w.magnitude, w.fraction, unit, seconds))
                seconds = w.negative ? kEarliestTime - 1 : kLatestTime + 1;
            return true;
        }
        case WrittenTime::Kind::serial:
            // Day 1 is 1900-01-01 in the spreadsheets' count, which holds a
            // 1900-02-29 that never was: from day 61 on, day 0 is 1899-12-30.
            seconds = utc_seconds(1899, 12, 30, 0, 0, 0) + w.seconds;
            return w.seconds >= int64_t{61} * 86400;
        case WrittenTime::Kind::week:
            seconds = iso_week_start(w.year, w.first);
            return true;
        case WrittenTime::Kind::month:
        case WrittenTime::Kind::quarter:
            month = w.kind == WrittenTime::Kind::quarter ? 3 * w.first - 2 : w.first;
            day = 1;
            break;
        case WrittenTime::Kind::numeric:
            if (order == DateOrder::dmy) {
                month = w.second;
                day = w.first;
            } else if (order == DateOrder::ymd) {
                // 03-02-27: only a two-digit first field is a year.
                if (!w.all_two_digits) return false;
                year = full_year(w.first);
                month = w.second;
                day = w.year % 100;
            }
            break;
        default:
            break;
    }
    if (!valid_day(year, month, day)) return false;
    seconds = utc_seconds(year, month, day, 0, 0, 0) + w.clock;
    return true;
}

std::string date_problem_text(std::string_view text, DateProblem problem, const WrittenTime& w, DateOrder order,
                              bool chosen, const OptionSpelling& spelling) {
    const std::string field = "date " + quoted(text);
    const std::string& dates = spelling.dates;
    switch (problem) {
        case DateProblem::five_digit_year:
            return field + " has a year of five digits or more: write the year with four (2003-02-27)";
        case DateProblem::bad_time:
            return field + " has a time of day that cannot be read: write it as 10:30, 10:30:15 or 103015, "
                           "optionally with Z, UTC or an offset such as +02:00";
        case DateProblem::month_and_two:
            return field + " is a month and two digits, a day of no year or a year of two digits: write a month as "
                           "2004-08 (or Aug 2004), a day as 2004-08-04";
        case DateProblem::month_or_epoch:
            return field + " reads as the month " + iso_date(w.year, w.first, 1).substr(0, 7) +
                   " or as epoch seconds of 1970-01-03: write months as " + iso_date(w.year, w.first, 1).substr(0, 7);
        case DateProblem::no_such_day: {
            if (w.kind == WrittenTime::Kind::week)
                return field + " has no week " + std::to_string(w.first) + ": " + std::to_string(w.year) + " has " +
                       std::to_string(iso_weeks(w.year)) + " ISO weeks";
            if (w.kind == WrittenTime::Kind::quarter)
                return field + " has no quarter " + std::to_string(w.first) + " (quarters run from 1 to 4)";
            if (w.kind == WrittenTime::Kind::numeric)
                return field + " has no day and month that exist: write it as YYYY-MM-DD";
            if (w.first < 1 || w.first > 12)
                return field + " has no month " + std::to_string(w.first) + " (months run from 1 to 12)";
            return field + " does not exist: " + iso_date(w.year, w.first, 1).substr(0, 7) + " has " +
                   std::to_string(days_in_month(w.year, w.first)) + " days";
        }
        case DateProblem::none:
            if (w.kind == WrittenTime::Kind::epoch) return epoch_digits_text(quoted(text), w.digits, spelling);
            if (w.kind == WrittenTime::Kind::serial && order == DateOrder::serial) {
                // Read as asked, and still no date a bar can have: the
                // spreadsheets' count holds a 1900-02-29 as day 60; days
                // before it fall in 1900, long before a record's earliest.
                const int64_t day = w.seconds / 86400;
                if (day == 60)
                    return field + " is day 60 of a spreadsheet's count, 1900-02-29, a day that never was (the "
                                   "count takes 1900 for a leap year)";
                const Civil c = civil_from_seconds(utc_seconds(1899, 12, 31, 0, 0, 0) + day * 86400);
                return field + " is day " + std::to_string(day) + " of a spreadsheet's count, " +
                       iso_date(c.year, c.month, c.day) + ", before " + time_text(kEarliestTime, true) +
                       " UTC, the earliest time a bar record holds";
            }
            if (w.kind == WrittenTime::Kind::serial) {
                int64_t t = 0;
                std::string reading;
                if (local_seconds(w, DateOrder::serial, t)) {
                    const Civil c = civil_from_seconds(t);
                    reading = " (" + iso_date(c.year, c.month, c.day) + " if it is one)";
                }
                return field + " looks like a spreadsheet's serial day number" + reading +
                       ", not a date: format the column as dates (YYYY-MM-DD) before saving, or pass " +
                       spelling.with(dates, "serial") + " to read day numbers";
            }
            if (w.kind == WrittenTime::Kind::numeric) {
                if (chosen)
                    return field + " does not exist read " + order_name(order) + " (as " + dates +
                           " asks): write it as YYYY-MM-DD, or choose another order with " + dates;
                return field + " does not exist read " + order_name(order) +
                       " (the file's order): write it as YYYY-MM-DD, or choose the order with " +
                       spelling.with(dates, "mdy") + ", " + (spelling.keywords ? "'dmy'" : "dmy") + " or " +
                       (spelling.keywords ? "'ymd'" : "ymd");
            }
            return field + " does not exist";
        case DateProblem::not_a_date:
            break;
    }
    return not_a_date(text);
}

std::string not_a_date(std::string_view field) {
    return "date " + quoted(field) +
           " is not a date (YYYY-MM-DD, MM/DD/YYYY, DD.MM.YYYY or Sep 19, 2003, optionally with a time; a month "
           "2003-02, a week 2003-W09, a quarter 2003Q1; or epoch seconds or milliseconds)";
}

std::string outside_time_range(const std::string& shown_date, bool looks_like_milliseconds,
                               const OptionSpelling& spelling) {
    return "date " + shown_date + " is outside " + time_text(kEarliestTime, true) + " .. " +
           time_text(kLatestTime, true) + " UTC, the range of a bar record's time (int32 seconds since 1970)" +
           (looks_like_milliseconds ? "; epoch milliseconds? " + spelling.with(spelling.dates, "ms") + " reads them"
                                    : "");
}

EpochUnit epoch_unit_of_digits(int digits) {
    if (digits <= 12) return EpochUnit::seconds;
    if (digits == 13) return EpochUnit::ms;
    if (digits == 16) return EpochUnit::us;
    if (digits == 19) return EpochUnit::ns;
    return EpochUnit::none;
}

EpochUnit epoch_unit_of(DateOrder order) {
    switch (order) {
        case DateOrder::ms: return EpochUnit::ms;
        case DateOrder::us: return EpochUnit::us;
        case DateOrder::ns: return EpochUnit::ns;
        default: return EpochUnit::none;
    }
}

const char* epoch_unit_name(EpochUnit unit) {
    switch (unit) {
        case EpochUnit::ms: return "epoch milliseconds";
        case EpochUnit::us: return "epoch microseconds";
        case EpochUnit::ns: return "epoch nanoseconds";
        case EpochUnit::seconds: return "epoch seconds";
        default: return "epoch time";
    }
}

bool epoch_to_seconds(bool negative, uint64_t magnitude, bool fraction, EpochUnit unit, int64_t& seconds) {
    if (unit == EpochUnit::none) return false;
    uint64_t per = 1;
    for (int k = unit_digits(unit); k > 10; k -= 3) per *= 1000;
    const uint64_t whole = magnitude / per;
    const bool part = fraction || magnitude % per != 0;
    // Rounded down, within -2^31 ... 2^31 - 1, compared while unsigned.
    constexpr uint64_t kMost = uint64_t{1} << 31;
    if (negative ? whole + (part ? 1 : 0) > kMost : whole >= kMost) return false;
    seconds = negative ? -static_cast<int64_t>(whole) - (part ? 1 : 0) : static_cast<int64_t>(whole);
    return true;
}

namespace {

// A value of a column of numbers as a file's field would be read.
template <typename Value>
EpochColumn epoch_values(const Value* values, std::size_t size, DateOrder order, int64_t* out,
                         const OptionSpelling& spelling) {
    EpochColumn column;
    column.unit = epoch_unit_of(order);
    const bool chosen = column.unit != EpochUnit::none;
    std::string first;
    const auto fail = [&](std::size_t row, std::string what) {
        column.ok = false;
        column.row = row;
        column.what = std::move(what);
        return column;
    };
    for (std::size_t i = 0; i < size; ++i) {
        bool negative = false, fraction = false;
        uint64_t magnitude = 0;
        std::string text;
        if constexpr (std::is_floating_point_v<Value>) {
            const double v = static_cast<double>(values[i]);
            text = "\"" + exact(v) + "\"";
            // Beyond 19 digits, no unit holds it; NaN is no time.
            if (!(std::fabs(v) < 1e19)) return fail(i, "date " + text + " is not an epoch time of 19 digits or fewer");
            negative = v < 0;
            const double whole = std::floor(std::fabs(v));
            magnitude = static_cast<uint64_t>(whole);
            fraction = whole != std::fabs(v);
        } else {
            const int64_t v = values[i];
            text = "\"" + std::to_string(v) + "\"";
            negative = v < 0;
            magnitude = negative ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        }
        int digits = 1;
        for (uint64_t m = magnitude; m >= 10; m /= 10) ++digits;
        if (!chosen && i == 0) {
            column.unit = epoch_unit_of_digits(digits);
            if (column.unit == EpochUnit::none) return fail(i, epoch_digits_text(text, digits, spelling));
            first = text;
        } else if (!chosen && !epoch_digits_fit(column.unit, digits)) {
            return fail(i, epoch_unlike_text(text, digits, column.unit, first, "(the first)"));
        }
        if (!epoch_to_seconds(negative, magnitude, fraction, column.unit, out[i]))
            return fail(i, outside_time_range(text, !chosen && column.unit == EpochUnit::seconds && !negative &&
                                                        (digits == 11 || digits == 12),
                                              spelling));
    }
    return column;
}

}  // namespace

EpochColumn epoch_column(const int64_t* values, std::size_t size, DateOrder order, int64_t* out,
                         const OptionSpelling& spelling) {
    return epoch_values(values, size, order, out, spelling);
}

EpochColumn epoch_column(const double* values, std::size_t size, DateOrder order, int64_t* out,
                         const OptionSpelling& spelling) {
    return epoch_values(values, size, order, out, spelling);
}

const char* period_name(BarPeriod period) {
    switch (period) {
        case BarPeriod::week: return "weekly";
        case BarPeriod::month: return "monthly";
        case BarPeriod::quarter: return "quarterly";
        default: return "daily";
    }
}

namespace {

// 'date "TEXT" reads as 2003-02-01 month/day or 2003-01-02 day/month'.
std::string two_readings(const std::string& quoted_text, int year, int first, int second) {
    return "date " + quoted_text + " reads as " + iso_date(year, first, second) + " month/day or " +
           iso_date(year, second, first) + " day/month";
}

// A date alone, as UTC seconds: numeric in the given order, or when
// automatic in the order a day above 12 (or the same day and month) tells.
bool lone_date(std::string_view text, DateOrder order, WrittenTime& w, int64_t& seconds, std::string& why,
               const OptionSpelling& spelling) {
    const bool chosen = order != DateOrder::automatic;
    const DateProblem problem = read_written_time(text, w);
    if (problem != DateProblem::none) {
        why = date_problem_text(text, problem, w, order, chosen, spelling);
        return false;
    }
    if (w.kind == WrittenTime::Kind::numeric && order == DateOrder::automatic) {
        if (w.first > 12 && w.second > 12) {
            why = date_problem_text(text, DateProblem::no_such_day, w, order, false, spelling);
            return false;
        }
        if (w.first > 12) {
            order = DateOrder::dmy;
        } else if (w.second > 12 || w.first == w.second) {
            order = DateOrder::mdy;
        } else {
            why = two_readings(quoted(text), w.year, w.first, w.second) + ": write it as YYYY-MM-DD, or pass " +
                  spelling.with(spelling.dates, "mdy") + " or " + spelling.with(spelling.dates, "dmy");
            return false;
        }
    }
    int64_t local = 0;
    if ((w.kind == WrittenTime::Kind::serial && order != DateOrder::serial) || !local_seconds(w, order, local)) {
        why = date_problem_text(text, DateProblem::none, w, order, chosen, spelling);
        return false;
    }
    seconds = local - w.offset;
    return true;
}

}  // namespace

bool parse_bound(std::string_view text, DateOrder order, bool end, int64_t& seconds, std::string& why,
                 const OptionSpelling& spelling) {
    WrittenTime w;
    if (!lone_date(text, order, w, seconds, why, spelling)) return false;
    if (!end || w.has_time) return true;
    // The end of what the text names: its day, week, month or quarter.
    if (w.kind == WrittenTime::Kind::week) {
        seconds += 7 * 86400 - 1;
    } else if (w.kind == WrittenTime::Kind::month || w.kind == WrittenTime::Kind::quarter) {
        const int months = w.kind == WrittenTime::Kind::quarter ? 3 : 1;
        const int first = w.kind == WrittenTime::Kind::quarter ? 3 * w.first - 2 : w.first;
        const int next = first + months;
        seconds = utc_seconds(w.year + (next > 12 ? 1 : 0), next > 12 ? next - 12 : next, 1, 0, 0, 0) - 1;
    } else {
        seconds += 86399;
    }
    return true;
}

bool parse_timestamp(std::string_view text, int64_t& seconds, bool& has_time, DateOrder order) {
    WrittenTime w;
    std::string why;
    has_time = false;
    if (!lone_date(text, order, w, seconds, why, command_spelling())) return false;
    has_time = w.has_time;
    return true;
}

bool DateReader::settle(DateOrder order, std::string_view field, long line, std::string& why) {
    if (order_ == order) return true;
    if (order_ != DateOrder::automatic) {
        why = "date " + quoted(field) + " reads only " + order_name(order) + ", but " + settled_text_ + " on line " +
              std::to_string(settled_line_) + " reads only " + order_name(order_) +
              ": one order must hold for the whole file (write the dates as YYYY-MM-DD)";
        return false;
    }
    order_ = order;
    settled_text_ = quoted(field);
    settled_line_ = line;
    return true;
}

int64_t DateReader::pending_shift(const Pending& p) {
    // Read month first; the file turned out day first.
    return utc_seconds(p.year, p.second, p.first, 0, 0, 0) - utc_seconds(p.year, p.first, p.second, 0, 0, 0);
}

bool DateReader::enter_month(int year, int month) {
    if (!started_ || kind_ != WrittenTime::Kind::ymd || month < 1 || month > 12) return false;
    month_ = Month{year, month, days_in_month(year, month), utc_seconds(year, month, 1, 0, 0, 0)};
    return true;
}

bool DateReader::read(std::string_view field, long line, int64_t& time, std::string& why) {
    int year = 0, month = 0, day = 0;
    // The common file: YYYY-MM-DD after YYYY-MM-DD.
    if (plain_iso(field, year, month, day) && read_ymd(year, month, day, 0, time)) return true;
    WrittenTime w;
    const DateProblem problem = read_written_time(field, w);
    if (problem != DateProblem::none) {
        why = date_problem_text(field, problem, w, order_, false, *spelling_);
        return false;
    }
    if (!started_) {
        started_ = true;
        kind_ = w.kind;
        first_text_ = quoted(field);
        first_line_ = line;
    } else if (w.kind != kind_) {
        why = "date " + quoted(field) + " is written " + kind_name(w.kind) + ", unlike " + first_text_ +
              " on line " + std::to_string(first_line_) + ": one form must hold for the whole file";
        return false;
    }
    if (w.kind == WrittenTime::Kind::epoch && !settle_unit(w, field, why)) return false;
    if (w.kind == WrittenTime::Kind::serial && option_ != DateOrder::serial) {
        why = date_problem_text(field, DateProblem::none, w, order_, false, *spelling_);
        return false;
    }
    if (w.kind == WrittenTime::Kind::numeric && option_ == DateOrder::automatic) {
        // A field above 12 is the day: it settles the order for the file.
        const bool first_day = w.first > 12, second_day = w.second > 12;
        if (first_day && second_day) {
            why = date_problem_text(field, DateProblem::no_such_day, w, order_, false, *spelling_);
            return false;
        }
        if ((first_day || second_day) && !settle(first_day ? DateOrder::dmy : DateOrder::mdy, field, line, why))
            return false;
        if (order_ == DateOrder::automatic && w.first != w.second)
            pending_.push_back(Pending{count_, line, w.year, w.first, w.second});
    }
    int64_t local = 0;
    if (!local_seconds(w, w.kind == WrittenTime::Kind::epoch ? order_of_unit(unit_) : order_, local)) {
        why = date_problem_text(field, DateProblem::none, w, order_, option_ != DateOrder::automatic, *spelling_);
        return false;
    }
    if (pending_.size() == 1 && ambiguous_text_.empty()) ambiguous_text_ = quoted(field);
    all_midnight_ = all_midnight_ && w.clock == 0;
    if (w.offset != 0 && !offsets_) {
        offsets_ = true;
        offset_of_.assign(count_, 0);
    }
    if (offsets_) offset_of_.push_back(w.offset);
    time = local - w.offset;
    ++count_;
    return true;
}

bool DateReader::settle_unit(const WrittenTime& w, std::string_view field, std::string& why) {
    if (unit_ == EpochUnit::none) {
        unit_ = epoch_unit_of(option_);
        if (unit_ != EpochUnit::none) return true;
        unit_ = epoch_unit_of_digits(w.digits);
        if (unit_ == EpochUnit::none) {
            why = epoch_digits_text(quoted(field), w.digits, *spelling_);
            return false;
        }
        return true;
    }
    if (epoch_unit_of(option_) != EpochUnit::none || epoch_digits_fit(unit_, w.digits)) return true;
    why = epoch_unlike_text(quoted(field), w.digits, unit_, first_text_, "on line " + std::to_string(first_line_));
    return false;
}

BarPeriod DateReader::period() const {
    switch (kind_) {
        case WrittenTime::Kind::week: return BarPeriod::week;
        case WrittenTime::Kind::month: return BarPeriod::month;
        case WrittenTime::Kind::quarter: return BarPeriod::quarter;
        default: return BarPeriod::written;
    }
}

bool DateReader::finish(long& line, std::string& why) {
    if (order_ != DateOrder::automatic || pending_.empty()) return true;
    const Pending& p = pending_.front();
    line = p.line;
    why = two_readings(ambiguous_text_, p.year, p.first, p.second) +
          ", and no date in the file has a day above 12 to tell: pass " + spelling_->with(spelling_->dates, "mdy") +
          " or " + spelling_->with(spelling_->dates, "dmy");
    return false;
}

}  // namespace tidemark::reader
