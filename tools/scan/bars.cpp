#include "bars.h"

#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// A bar record's time is an int32: these are the dates it can hold.
constexpr int64_t kEarliest = INT32_MIN;
constexpr int64_t kLatest = INT32_MAX;

const char* const kColumns[] = {"date", "open", "high", "low", "close", "volume"};

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    std::string t = s.substr(b, e - b);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = t.substr(1, t.size() - 2);
    return t;
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = line.find(',', start);
        fields.push_back(trim(line.substr(start, comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return fields;
}

// A field as quoted in an error: control bytes escaped, so that the message
// stays one line on any terminal, and long fields cut short.
std::string shown(const std::string& field) {
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

bool number(const std::string& text, double& value) {
    // Plain decimal only: strtod would also skip leading control characters
    // and take hexadecimal, "nan" and "inf".
    if (text.empty() || text.find_first_not_of("+-.0123456789eE") != std::string::npos)
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    // Overflow gives an infinity and underflow a tiny value: only the first
    // is unusable as a price.
    return end == text.c_str() + text.size() && std::isfinite(value);
}

// Reads exactly n decimal digits at text[pos].
bool digits(const std::string& text, std::size_t& pos, int n, int& value) {
    value = 0;
    for (int i = 0; i < n; ++i, ++pos) {
        if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return false;
        value = value * 10 + (text[pos] - '0');
    }
    return true;
}

bool leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap(year) ? 29 : kDays[month - 1];
}

bool parse_stamp(const std::string& text, int64_t& seconds, bool& has_time) {
    std::size_t pos = 0;
    int year, month, day, hour = 0, minute = 0, second = 0;
    if (!digits(text, pos, 4, year)) return false;
    if (pos >= text.size()) return false;
    const char sep = text[pos];
    if (sep != '-' && sep != '/' && sep != '.') return false;
    ++pos;
    if (!digits(text, pos, 2, month) || pos >= text.size() || text[pos++] != sep) return false;
    if (!digits(text, pos, 2, day)) return false;
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) return false;
    has_time = pos < text.size();
    if (has_time) {
        if (text[pos] != ' ' && text[pos] != 'T') return false;
        ++pos;
        if (!digits(text, pos, 2, hour) || pos >= text.size() || text[pos++] != ':') return false;
        if (!digits(text, pos, 2, minute)) return false;
        if (pos < text.size() && text[pos] == ':') {
            ++pos;
            if (!digits(text, pos, 2, second)) return false;
        }
        if (pos < text.size() && text[pos] == 'Z') ++pos;
        if (pos != text.size() || hour > 23 || minute > 59 || second > 59) return false;
    }
    seconds = utc_seconds(year, month, day, hour, minute, second);
    return true;
}

bool is_blank(const std::string& line) {
    for (char c : line)
        if (c != ' ' && c != '\t') return false;
    return true;
}

// A header is a first line that carries no price in any price column.
bool is_header(const std::vector<std::string>& fields) {
    double ignored;
    for (std::size_t i = 1; i < fields.size() && i < 5; ++i)
        if (number(fields[i], ignored)) return false;
    return true;
}

}  // namespace

int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second) {
    // Days from 1970-01-01 to the date in the proleptic Gregorian calendar.
    const int64_t y = month <= 2 ? int64_t{year} - 1 : year;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

bool parse_bars(const std::string& name, const std::string& text, BarSeries& out,
                std::string& error, const Progress& progress) {
    out = BarSeries{};
    const auto fail = [&](long line, const std::string& what) {
        error = name + ":" + std::to_string(line) + ": " + what;
        out.bars.clear();
        return false;
    };
    std::size_t pos = 0;
    long line_no = 0;
    long last_line = 0;
    bool first = true;
    bool header = false;
    std::size_t next_report = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line_no == 1 && line.size() >= 3 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);  // a UTF-8 byte-order mark
        if (is_blank(line)) continue;
        if (progress && pos >= next_report) {
            progress("reading", static_cast<double>(pos) / static_cast<double>(text.size()));
            next_report = pos + (1u << 20);
        }

        const std::vector<std::string> fields = split(line);
        if (first) {
            first = false;
            if (is_header(fields)) {
                header = true;
                continue;
            }
        }
        if (fields.size() < 5)
            return fail(line_no, std::to_string(fields.size()) +
                                     (fields.size() == 1 ? " field" : " fields") +
                                     ", expected date, open, high, low, close and optional volume");
        if (fields.size() > 6)
            return fail(line_no, std::to_string(fields.size()) +
                                     " fields, expected at most 6: date, open, high, low, close, volume");

        Bar bar;
        bar.stamp = fields[0];
        bool has_time = false;
        if (!parse_stamp(fields[0], bar.time, has_time))
            return fail(line_no, "date \"" + shown(fields[0]) +
                                     "\" is not a date (YYYY-MM-DD, optionally with HH:MM or HH:MM:SS)");
        if (bar.time < kEarliest || bar.time > kLatest)
            return fail(line_no, "date " + fields[0] +
                                     " is outside 1901-12-13 .. 2038-01-19, the range of a bar record's time");
        double values[5] = {0, 0, 0, 0, 0};
        for (std::size_t i = 1; i < fields.size(); ++i)
            if (!number(fields[i], values[i - 1]))
                return fail(line_no, std::string(kColumns[i]) + " \"" + shown(fields[i]) +
                                         "\" is not a finite number");
        bar.open = values[0];
        bar.high = values[1];
        bar.low = values[2];
        bar.close = values[3];
        bar.volume = values[4];
        if (bar.high < bar.low)
            return fail(line_no, "high " + shown(fields[2]) + " is below low " + shown(fields[3]));
        if (bar.volume < 0) return fail(line_no, "volume " + shown(fields[5]) + " is negative");
        if (!out.bars.empty()) {
            const Bar& prev = out.bars.back();
            if (bar.time <= prev.time)
                return fail(line_no, "date " + bar.stamp +
                                         (bar.time == prev.time ? " repeats " : " comes before ") +
                                         prev.stamp + " on line " + std::to_string(last_line) +
                                         ": bars must be oldest first, one per date");
        }
        if (has_time) out.intraday = true;
        out.bars.push_back(std::move(bar));
        last_line = line_no;
    }
    if (out.bars.empty()) {
        if (header) return fail(line_no, "no bars after the header");
        return fail(line_no == 0 ? 1 : line_no, "the file is empty: no bars");
    }
    if (progress) progress("reading", 1.0);
    return true;
}

bool read_bars(const std::string& path, BarSeries& out, std::string& error,
               const Progress& progress) {
    out = BarSeries{};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::string text;
    char chunk[1 << 16];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
    const bool failed = std::ferror(file) != 0;
    const int why = errno;
    std::fclose(file);
    if (failed) {
        error = path + ": cannot read: " + std::strerror(why);
        return false;
    }
    return parse_bars(path, text, out, error, progress);
}

std::vector<unsigned char> layout_records(const std::vector<Bar>& bars) {
    std::vector<unsigned char> records(bars.size() * kRecordSize);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        unsigned char* record = records.data() + (bars.size() - 1 - i) * kRecordSize;
        const int32_t time = static_cast<int32_t>(bar.time);
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
