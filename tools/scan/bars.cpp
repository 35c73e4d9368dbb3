#include "bars.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files.h"
#include "format.h"
#include "tidemark.h"

namespace tidemark::scan {
namespace {

// The record layout the host hands to the library; the header's struct must
// agree with it byte for byte.
constexpr std::size_t kRecordSize = 44;
static_assert(sizeof(BarRecord) == kRecordSize, "BarRecord is 44 bytes");
static_assert(offsetof(BarRecord, time) == 0, "time at 0");
static_assert(offsetof(BarRecord, open) == 4, "open at 4");
static_assert(offsetof(BarRecord, low) == 12, "low at 12");
static_assert(offsetof(BarRecord, high) == 20, "high at 20");
static_assert(offsetof(BarRecord, close) == 28, "close at 28");
static_assert(offsetof(BarRecord, volume) == 36, "volume at 36");

// A bar record's time is an int32: these are the moments it can hold.
constexpr int64_t kEarliest = INT32_MIN;
constexpr int64_t kLatest = INT32_MAX;

const char* const kTimestampForms = "YYYY-MM-DD, optionally with a time, or epoch seconds";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A field as quoted in an error: control bytes escaped, so that the message
// stays one line on any terminal, and long fields cut short.
std::string shown(std::string_view field) {
    constexpr std::size_t kLongest = 40;
    std::string out;
    for (std::size_t i = 0; i < field.size() && i < kLongest; ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (field.size() > kLongest) out += "...";
    return out;
}

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
    offset = sign * (int64_t{oh} * 3600 + om * 60);
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

// The most frequent of tab, ";" and "," outside quotes; on a tie the first of
// them in that order.
char detect_separator(std::string_view line) {
    int tabs = 0, semicolons = 0, commas = 0;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        else if (!quoted) {
            tabs += c == '\t';
            semicolons += c == ';';
            commas += c == ',';
        }
    }
    if (tabs >= semicolons && tabs >= commas && tabs > 0) return '\t';
    if (semicolons >= commas && semicolons > 0) return ';';
    return ',';
}

inline bool is_space(char c, char separator) { return c == ' ' || (c == '\t' && separator != '\t'); }

inline std::string_view trimmed(std::string_view s, char separator) {
    std::size_t b = 0, e = s.size();
    while (b < e && is_space(s[b], separator)) ++b;
    while (e > b && is_space(s[e - 1], separator)) --e;
    return s.substr(b, e - b);
}

// The first separator at or after pos, or n. Fields are short, so instead of
// a memchr call per field this tests eight bytes at a time: a byte equal to
// the separator is a zero byte of word ^ pattern, and the lowest byte that
// the zero-byte test flags is always a true one.
inline std::size_t find_separator(const char* p, std::size_t pos, std::size_t n, char separator) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    const uint64_t pattern = kOnes * static_cast<unsigned char>(separator);
    for (; pos + 8 <= n; pos += 8) {
        uint64_t word;
        std::memcpy(&word, p + pos, sizeof word);
        const uint64_t x = word ^ pattern;
        const uint64_t zero = (x - kOnes) & ~x & kHighs;
        if (zero != 0) return pos + static_cast<std::size_t>(__builtin_ctzll(zero) >> 3);
    }
#endif
    while (pos < n && p[pos] != separator) ++pos;
    return pos;
}

// The fields of one line, as views into it. Pointers and lengths apart in a
// fixed array: a vector of string_views cost a quarter of the reading time in
// this loop (its stores and reloads stalled).
class Fields {
public:
    static constexpr std::size_t kMost = 256;
    std::size_t size() const { return count_; }
    std::string_view operator[](std::size_t i) const { return std::string_view(begin_[i], length_[i]); }
    void clear() { count_ = 0; }
    bool add(std::string_view field) {
        if (count_ == kMost) return false;
        begin_[count_] = field.data();
        length_[count_] = field.size();
        ++count_;
        return true;
    }

private:
    const char* begin_[kMost];
    std::size_t length_[kMost];
    std::size_t count_ = 0;
};

// Splits a line into fields without copying. A quoted field loses its quotes
// (a doubled quote inside stays doubled: no date or number holds one).
// Returns null, or what is wrong with the line.
const char* split(std::string_view line, char separator, Fields& fields) {
    fields.clear();
    const std::size_t n = line.size();
    std::size_t pos = 0;
    for (;;) {
        while (pos < n && is_space(line[pos], separator)) ++pos;
        if (pos < n && line[pos] == '"') {
            const std::size_t start = ++pos;
            for (;; ++pos) {
                if (pos >= n) return "a quoted field is not closed on its line";
                if (line[pos] == '"') {
                    if (pos + 1 < n && line[pos + 1] == '"') {
                        ++pos;
                        continue;
                    }
                    break;
                }
            }
            if (!fields.add(trimmed(line.substr(start, pos - start), separator))) return "more than 256 fields";
            ++pos;
            while (pos < n && is_space(line[pos], separator)) ++pos;
            if (pos < n && line[pos] != separator) return "text follows a quoted field before the separator";
        } else {
            const std::size_t start = pos;
            pos = find_separator(line.data(), pos, n, separator);
            if (!fields.add(trimmed(line.substr(start, pos - start), separator))) return "more than 256 fields";
        }
        if (pos >= n) return nullptr;
        ++pos;  // past the separator
    }
}

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// A plain decimal number: from_chars reads it exactly as strtod would, but
// strtod would also skip leading control characters and take hexadecimal,
// "nan" and "inf". With decimal_comma, one "," stands for the point.
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
    char buffer[401];
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
        buffer[s.size()] = '\0';
        value = std::strtod(first, nullptr);
        if (!std::isfinite(value)) return false;
    } else if (ec != std::errc()) {
        return false;
    }
    return true;
}

// Column names as people write them: case, spaces, underscores and the angle
// brackets of some exports do not matter.
std::string normalised(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c >= 'A' && c <= 'Z') out += static_cast<char>(c - 'A' + 'a');
        else if ((c >= 'a' && c <= 'z') || is_digit(c)) out += c;
    }
    return out;
}

struct Columns {
    bool header = false;
    long header_line = 0;
    std::size_t count = 0;  // fields per row when there is a header
    int stamp = -1;         // date, datetime or timestamp
    int time = -1;          // a separate time-of-day column
    int open = -1, high = -1, low = -1, close = -1, volume = -1;
};

enum class Name { other, date, datetime, time, open, high, low, close, volume, vol };

Name name_of(std::string_view field) {
    const std::string name = normalised(field);
    if (name == "date") return Name::date;
    if (name == "datetime" || name == "timestamp") return Name::datetime;
    if (name == "time") return Name::time;
    if (name == "open") return Name::open;
    if (name == "high") return Name::high;
    if (name == "low") return Name::low;
    if (name == "close") return Name::close;
    if (name == "volume") return Name::volume;
    if (name == "vol") return Name::vol;
    return Name::other;
}

// Maps a header's names to columns, or says what is missing.
bool map_header(const Fields& fields, Columns& columns, std::string& why) {
    constexpr int kNames = static_cast<int>(Name::vol) + 1;
    int at[kNames];
    std::fill(at, at + kNames, -1);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Name name = name_of(fields[i]);
        if (name == Name::other) continue;  // a column the analysis does not use
        int& slot = at[static_cast<int>(name)];
        if (slot >= 0) {
            why = "columns " + std::to_string(slot + 1) + " and " + std::to_string(i + 1) + " are both named " +
                  shown(fields[i]);
            return false;
        }
        slot = static_cast<int>(i);
    }
    const auto column = [&](Name name) { return at[static_cast<int>(name)]; };
    if (column(Name::datetime) >= 0) {
        columns.stamp = column(Name::datetime);
    } else if (column(Name::date) >= 0) {
        columns.stamp = column(Name::date);
        columns.time = column(Name::time);
    } else {
        columns.stamp = column(Name::time);
    }
    columns.open = column(Name::open);
    columns.high = column(Name::high);
    columns.low = column(Name::low);
    columns.close = column(Name::close);
    columns.volume = column(Name::volume) >= 0 ? column(Name::volume) : column(Name::vol);
    std::string missing;
    int missing_count = 0;
    const std::pair<const char*, int> prices[] = {
        {"open", columns.open}, {"high", columns.high}, {"low", columns.low}, {"close", columns.close}};
    for (const auto& [name, index] : prices) {
        if (index >= 0) continue;
        missing += std::string(missing.empty() ? "" : ", ") + name;
        ++missing_count;
    }
    const std::string named = std::string(missing_count == 1 ? "column" : "columns") + " named " + missing;
    if (columns.stamp < 0) {
        why = "the header has no date column (named date, time, datetime or timestamp)";
        if (missing_count > 0) why += " and no " + named;
        return false;
    }
    if (missing_count > 0) {
        why = "the header has no " + named;
        return false;
    }
    columns.header = true;
    columns.count = fields.size();
    return true;
}

// The earliest and latest moments a bar record holds, for messages.
std::string time_range_text() { return time_text(kEarliest, true) + " .. " + time_text(kLatest, true) + " UTC"; }

}  // namespace

std::string ReadError::text() const {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + what : file + ": " + what;
}

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

bool parse_bars(const std::string& name, std::string_view text, BarSeries& out, ReadError& error,
                const Progress& progress) {
    out = BarSeries{};
    error = ReadError{};
    const auto fail = [&](long line, const std::string& what) {
        error.file = name;
        error.line = line;
        error.what = what;
        out.bars.clear();
        return false;
    };
    const auto u8 = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 256u; };
    if ((u8(0) == 0xFF && u8(1) == 0xFE) || (u8(0) == 0xFE && u8(1) == 0xFF))
        return fail(0, "the file is UTF-16 text: save it as UTF-8 (or ASCII) to read it");
    if (text.size() >= 2 && (u8(0) == 0 || u8(1) == 0))
        return fail(0, "the file looks like UTF-16 text (zero bytes between the characters): save it as "
                       "UTF-8 (or ASCII) to read it");
    const std::size_t total = text.size();
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.remove_prefix(3);

    // Lines end in LF, CRLF or, in old Mac files, a lone CR: the first line
    // end tells which.
    char eol = '\n';
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') break;
        if (text[i] == '\r') {
            if (i + 1 >= text.size() || text[i + 1] != '\n') eol = '\r';
            break;
        }
    }

    Columns columns;
    char separator = ',';
    bool decimal_comma = false;
    bool first = true;
    Fields fields;
    std::vector<long> lines;  // each bar's line, for messages about order
    long line_no = 0;
    std::size_t pos = 0, next_report = 0;
    std::string joined_stamp;  // a date and a time column, joined
    while (pos < text.size()) {
        const void* hit = std::memchr(text.data() + pos, eol, text.size() - pos);
        const std::size_t end =
            hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) : text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        if (eol == '\n' && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (progress && pos >= next_report) {
            progress("reading", static_cast<double>(pos) / static_cast<double>(total));
            next_report = pos + (1u << 20);
        }
        const std::size_t content = line.find_first_not_of(" \t");
        if (content == std::string_view::npos || line[content] == '#') continue;  // blank, or a comment

        if (first) {
            separator = detect_separator(line);
            decimal_comma = separator == ';';
        }
        if (const char* why = split(line, separator, fields)) return fail(line_no, why);
        if (first) {
            first = false;
            // A header names its columns; a first field that starts like a
            // number or a date is a bar, however broken.
            const std::string_view lead = fields[0];
            const bool bar_like = !lead.empty() && (is_digit(lead[0]) || (lead[0] == '-' && lead.size() > 1 &&
                                                                         is_digit(lead[1])));
            if (!bar_like) {
                bool named = false;
                for (std::size_t i = 0; i < fields.size(); ++i) named = named || name_of(fields[i]) != Name::other;
                if (!named)
                    return fail(line_no, "neither a header naming the date, open, high, low and close "
                                         "columns nor a bar: date \"" + shown(fields[0]) +
                                         "\" is not a date (" + kTimestampForms + ")");
                std::string why;
                if (!map_header(fields, columns, why)) return fail(line_no, why);
                columns.header_line = line_no;
                continue;
            }
            columns.stamp = 0;
            columns.open = 1;
            columns.high = 2;
            columns.low = 3;
            columns.close = 4;
        }

        if (columns.header) {
            if (fields.size() != columns.count)
                return fail(line_no, std::to_string(fields.size()) + (fields.size() == 1 ? " field" : " fields") +
                                         ", but the header on line " + std::to_string(columns.header_line) +
                                         " has " + std::to_string(columns.count));
        } else if (fields.size() < 5) {
            return fail(line_no, std::to_string(fields.size()) + (fields.size() == 1 ? " field" : " fields") +
                                     ", expected date, open, high, low, close and optional volume");
        } else if (fields.size() > 6) {
            return fail(line_no, std::to_string(fields.size()) +
                                     " fields, expected at most 6: date, open, high, low, close, volume");
        }
        const int volume_column = columns.header ? columns.volume : (fields.size() == 6 ? 5 : -1);

        Bar bar{};
        std::string_view stamp = fields[static_cast<std::size_t>(columns.stamp)];
        if (columns.time >= 0) {
            // Reused from row to row: no allocation once it is long enough.
            joined_stamp.assign(stamp.data(), stamp.size());
            joined_stamp += ' ';
            joined_stamp.append(fields[static_cast<std::size_t>(columns.time)]);
            stamp = joined_stamp;
        }
        bool has_time = false;
        if (!parse_timestamp(stamp, bar.time, has_time))
            return fail(line_no, "date \"" + shown(stamp) + "\" is not a date (" + kTimestampForms + ")");
        if (bar.time < kEarliest || bar.time > kLatest) {
            const bool digits_only = stamp.find_first_not_of("0123456789") == std::string_view::npos;
            return fail(line_no, "date " + shown(stamp) + " is outside " + time_range_text() +
                                     ", the range of a bar record's time (int32 seconds since 1970)" +
                                     (digits_only && stamp.size() >= 12 ? "; epoch milliseconds?" : ""));
        }
        struct Field {
            const char* name;
            int column;
            double* value;
        };
        const Field prices[] = {{"open", columns.open, &bar.open},
                                {"high", columns.high, &bar.high},
                                {"low", columns.low, &bar.low},
                                {"close", columns.close, &bar.close},
                                {"volume", volume_column, &bar.volume}};
        for (const Field& f : prices) {
            if (f.column < 0) continue;
            const std::string_view value = fields[static_cast<std::size_t>(f.column)];
            if (!parse_number(value, decimal_comma, *f.value))
                return fail(line_no, std::string(f.name) + " \"" + shown(value) + "\" is not a finite number");
        }
        const auto field_of = [&](int column) { return shown(fields[static_cast<std::size_t>(column)]); };
        if (bar.high < bar.low)
            return fail(line_no, "high " + field_of(columns.high) + " is below low " + field_of(columns.low));
        if (!std::isfinite(bar.high - bar.low))
            return fail(line_no, "the range high - low (" + field_of(columns.high) + " - " + field_of(columns.low) +
                                     ") is beyond the range of a double");
        for (const Field& f : {prices[0], prices[3]}) {
            if (*f.value < bar.low)
                return fail(line_no, std::string(f.name) + " " + field_of(f.column) + " is below low " +
                                         field_of(columns.low));
            if (*f.value > bar.high)
                return fail(line_no, std::string(f.name) + " " + field_of(f.column) + " is above high " +
                                         field_of(columns.high));
        }
        if (bar.volume < 0) return fail(line_no, "volume " + field_of(volume_column) + " is negative");
        if (out.bars.empty()) {
            // Room for as many bars as rows like this one fill the rest.
            const std::size_t rest = pos < text.size() ? text.size() - pos : 0;
            const std::size_t estimate = rest / (line.size() + 1) + 16;
            out.bars.reserve(estimate);
            lines.reserve(estimate);
        }
        out.bars.push_back(bar);
        lines.push_back(line_no);
    }
    if (out.bars.empty()) {
        if (columns.header) return fail(line_no, "no bars after the header");
        return fail(line_no == 0 ? 1 : line_no, "the file is empty: no bars");
    }

    // The order is told from the first and last dates, so that one bar out
    // of place is blamed on its own line.
    std::vector<Bar>& bars = out.bars;
    out.newest_first = bars.front().time > bars.back().time;
    for (std::size_t i = 1; i < bars.size(); ++i) {
        const int64_t t = bars[i].time, prev = bars[i - 1].time;
        if (out.newest_first ? t < prev : t > prev) continue;
        const bool intraday = t % 86400 != 0 || prev % 86400 != 0;
        const std::string here = time_text(t, intraday), there = time_text(prev, intraday);
        const std::string previous = " on line " + std::to_string(lines[i - 1]);
        if (t == prev) return fail(lines[i], "date " + here + " repeats the date" + previous + ": one bar per date");
        return fail(lines[i], "date " + here + (out.newest_first ? " comes after " : " comes before ") + there +
                                  previous + ": the file runs " +
                                  (out.newest_first ? "newest" : "oldest") +
                                  " first (by its first and last dates), one bar per date");
    }
    if (out.newest_first) std::reverse(bars.begin(), bars.end());
    out.intraday = std::any_of(bars.begin(), bars.end(), [](const Bar& b) { return b.time % 86400 != 0; });
    if (progress) progress("reading", 1.0);
    return true;
}

bool read_bars(const std::string& path, BarSeries& out, ReadError& error, const Progress& progress) {
    out = BarSeries{};
    std::string text, why;
    if (!read_file(path, text, why)) {
        error = ReadError{path, 0, why};
        return false;
    }
    return parse_bars(path, text, out, error, progress);
}

bool parse_bars(const std::string& name, std::string_view text, BarSeries& out, std::string& error,
                const Progress& progress) {
    ReadError e;
    if (parse_bars(name, text, out, e, progress)) return true;
    error = e.text();
    return false;
}

bool read_bars(const std::string& path, BarSeries& out, std::string& error, const Progress& progress) {
    ReadError e;
    if (read_bars(path, out, e, progress)) return true;
    error = e.text();
    return false;
}

std::vector<unsigned char> layout_records(const std::vector<Bar>& bars) {
    std::vector<unsigned char> records(bars.size() * kRecordSize);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        unsigned char* record = records.data() + (bars.size() - 1 - i) * kRecordSize;
        const auto time = static_cast<int32_t>(bar.time);
        std::memcpy(record + offsetof(BarRecord, time), &time, sizeof time);
        std::memcpy(record + offsetof(BarRecord, open), &bar.open, sizeof bar.open);
        std::memcpy(record + offsetof(BarRecord, low), &bar.low, sizeof bar.low);
        std::memcpy(record + offsetof(BarRecord, high), &bar.high, sizeof bar.high);
        std::memcpy(record + offsetof(BarRecord, close), &bar.close, sizeof bar.close);
        std::memcpy(record + offsetof(BarRecord, volume), &bar.volume, sizeof bar.volume);
    }
    return records;
}

}  // namespace tidemark::scan
