#include "bars.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "columns.h"
#include "dates.h"
#include "files.h"
#include "format.h"
#include "numbers.h"
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

struct Columns {
    bool header = false;
    long header_line = 0;
    std::size_t count = 0;  // fields per row when there is a header
    int stamp = -1;         // date, datetime or timestamp
    int time = -1;          // a separate time-of-day column
    int open = -1, high = -1, low = -1, close = -1, volume = -1, symbol = -1;
    std::string stamp_name;  // the date column's name, to know the header when it comes again
    std::string close_name;  // the close column's name, when it is the adjusted close
    std::string symbol_name;
};

const char* const kColumnsHint = "name the columns with --columns date=NAME,open=NAME,high=NAME,low=NAME,close=NAME";

// Whether a line names any column, by the names exports use or the user's.
bool names_a_column(const Fields& fields, const ReadOptions& options) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (column_name(fields[i]).role != Role::other) return true;
        for (const ColumnChoice& c : options.columns)
            if (same_column_name(fields[i], c.name)) return true;
    }
    return false;
}

// Maps a header's names to columns, or says what is missing. The user's
// names come first; of two columns that name one role the stronger name is
// taken ("Close" before "Adj Close").
bool map_header(const Fields& fields, const ReadOptions& options, Columns& columns, std::string& why) {
    constexpr int kChosen = -1, kNone = 1 << 20;
    int at[kRoles], rank[kRoles];
    std::fill(at, at + kRoles, -1);
    std::fill(rank, rank + kRoles, kNone);
    bool taken[Fields::kMost] = {};
    for (const ColumnChoice& c : options.columns) {
        std::size_t i = 0;
        while (i < fields.size() && !same_column_name(fields[i], c.name)) ++i;
        if (i == fields.size()) {
            why = std::string("--columns names ") + role_name(c.role) + "=" + shown(c.name) +
                  ", but the header has no column named \"" + shown(c.name) + "\"";
            return false;
        }
        at[static_cast<int>(c.role)] = static_cast<int>(i);
        rank[static_cast<int>(c.role)] = kChosen;
        taken[i] = true;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const ColumnName name = column_name(fields[i]);
        const int r = static_cast<int>(name.role);
        if (taken[i] || name.role == Role::other || rank[r] == kChosen) continue;
        if (rank[r] == name.rank) {
            why = "columns " + std::to_string(at[r] + 1) + " and " + std::to_string(i + 1) + " are both named " +
                  shown(fields[i]);
            return false;
        }
        if (name.rank < rank[r]) {
            at[r] = static_cast<int>(i);
            rank[r] = name.rank;
        }
    }
    const auto column = [&](Role role) { return at[static_cast<int>(role)]; };
    if (column(Role::datetime) >= 0 && rank[static_cast<int>(Role::date)] != kChosen) {
        columns.stamp = column(Role::datetime);
    } else if (column(Role::date) >= 0) {
        columns.stamp = column(Role::date);
        columns.time = column(Role::time);
    } else {
        columns.stamp = column(Role::time);
    }
    columns.open = column(Role::open);
    columns.high = column(Role::high);
    columns.low = column(Role::low);
    columns.close = column(Role::close);
    columns.volume = column(Role::volume);
    columns.symbol = column(Role::symbol);
    if (columns.symbol >= 0) columns.symbol_name = std::string(fields[static_cast<std::size_t>(columns.symbol)]);
    if (columns.close >= 0 && rank[static_cast<int>(Role::close)] == kAdjustedCloseRank)
        columns.close_name = std::string(fields[static_cast<std::size_t>(columns.close)]);
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
        why += std::string(": ") + kColumnsHint;
        return false;
    }
    if (missing_count > 0) {
        why = "the header has no " + named + ": " + kColumnsHint;
        return false;
    }
    columns.header = true;
    columns.count = fields.size();
    columns.stamp_name = std::string(fields[static_cast<std::size_t>(columns.stamp)]);
    return true;
}

bool all_empty(const Fields& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (!fields[i].empty()) return false;
    return true;
}

// Title and source lines before the header ("ACME Corp, daily",
// "Source: ..."): a field or two that name no column; a few at most.
constexpr int kMostTitleLines = 10;
bool title_like(const Fields& fields) {
    std::size_t filled = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) filled += fields[i].empty() ? 0 : 1;
    return filled <= 2;
}

// The earliest and latest moments a bar record holds, for messages.
std::string time_range_text() { return time_text(kEarliest, true) + " .. " + time_text(kLatest, true) + " UTC"; }

// The series in time order, oldest first. The order is told from the first
// and last dates, so that one bar out of place is blamed on its own line;
// after a repeated header the dates may go back (two downloads pasted
// together), and the bars are then merged. A bar repeated exactly is
// dropped (counted); a date repeated with other prices is an error naming
// both lines.
bool check_series(BarSeries& out, std::vector<long>& lines, const std::vector<std::size_t>& restarts,
                  std::string& why, long& line) {
    std::vector<Bar>& bars = out.bars;
    out.newest_first = bars.front().time > bars.back().time;
    const auto before = [&](int64_t a, int64_t b) { return out.newest_first ? a > b : a < b; };
    bool merge = false;
    std::size_t restart = 0;
    for (std::size_t i = 1; i < bars.size(); ++i) {
        const int64_t t = bars[i].time, prev = bars[i - 1].time;
        while (restart < restarts.size() && restarts[restart] < i) ++restart;
        if (!before(prev, t) && t != prev && restart < restarts.size() && restarts[restart] == i) {
            merge = true;
            continue;
        }
        if (before(prev, t) || t == prev) continue;
        const bool intraday = t % 86400 != 0 || prev % 86400 != 0;
        line = lines[i];
        why = "date " + time_text(t, intraday) + (out.newest_first ? " comes after " : " comes before ") +
              time_text(prev, intraday) + " on line " + std::to_string(lines[i - 1]) + ": the file runs " +
              (out.newest_first ? "newest" : "oldest") + " first (by its first and last dates), one bar per date";
        return false;
    }
    if (out.newest_first) {
        std::reverse(bars.begin(), bars.end());
        std::reverse(lines.begin(), lines.end());
    }
    if (merge) {
        std::vector<std::size_t> order(bars.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return bars[a].time < bars[b].time; });
        std::vector<Bar> sorted(bars.size());
        std::vector<long> sorted_lines(bars.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            sorted[i] = bars[order[i]];
            sorted_lines[i] = lines[order[i]];
        }
        bars.swap(sorted);
        lines.swap(sorted_lines);
    }
    std::size_t kept = 1;
    for (std::size_t i = 1; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        const Bar& prev = bars[kept - 1];
        if (bar.time != prev.time) {
            bars[kept] = bar;
            lines[kept] = lines[i];
            ++kept;
            continue;
        }
        const bool same = bar.open == prev.open && bar.high == prev.high && bar.low == prev.low &&
                          bar.close == prev.close && bar.volume == prev.volume;
        if (!same) {
            const bool intraday = bar.time % 86400 != 0;
            const long a = std::min(lines[i], lines[kept - 1]), b = std::max(lines[i], lines[kept - 1]);
            line = b;
            why = "date " + time_text(bar.time, intraday) + " repeats the date on line " + std::to_string(a) +
                  " with other prices: one bar per date";
            return false;
        }
        ++out.duplicates_dropped;
    }
    bars.resize(kept);
    lines.resize(kept);
    out.intraday = std::any_of(bars.begin(), bars.end(), [](const Bar& b) { return b.time % 86400 != 0; });
    return true;
}

}  // namespace

std::string ReadError::text() const {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + what : file + ": " + what;
}

bool parse_timestamp(std::string_view text, int64_t& seconds, bool& has_time, DateOrder order) {
    WrittenTime w;
    has_time = false;
    if (read_written_time(text, w) != DateProblem::none) return false;
    if (w.kind == WrittenTime::Kind::serial && order != DateOrder::serial) return false;
    if (w.kind == WrittenTime::Kind::numeric && order == DateOrder::automatic) {
        // Alone, a date tells its order only by a day above 12.
        if (w.first > 12) order = DateOrder::dmy;
        else if (w.second > 12 || w.first == w.second) order = DateOrder::mdy;
        else return false;
    }
    int64_t local = 0;
    if (!local_seconds(w, order, local)) return false;
    seconds = local - w.offset;
    has_time = w.has_time;
    return true;
}

bool parse_bars(const std::string& name, std::string_view text, BarSeries& out, ReadError& error,
                const Progress& progress, const ReadOptions& options) {
    out = BarSeries{};
    error = ReadError{};
    const auto fail = [&](long line, const std::string& what) {
        error.file = name;
        error.line = line;
        error.what = what;
        out = BarSeries{};
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
    bool decimal_comma = false, separator_given = false;
    bool first = true;
    int titles = 0;
    Fields fields;
    std::vector<long> lines;  // each bar's line, for messages about order
    std::vector<std::size_t> restarts;  // bars that follow a repeated header
    bool restart = false;
    std::string symbol;  // the first row's, when there is a symbol column
    long symbol_line = 0;
    DateReader dates(options.dates);
    std::string why;
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

        if (first && !separator_given) {
            // "sep=;", a spreadsheet's note of the separator, on the first line.
            if (line.size() - content == 5 && line.compare(content, 4, "sep=") == 0 && titles == 0) {
                separator = line[content + 4];
                decimal_comma = separator == ';';
                separator_given = true;
                continue;
            }
            separator = detect_separator(line);
            decimal_comma = separator == ';';
        }
        if (const char* problem = split(line, separator, fields)) return fail(line_no, problem);
        if (all_empty(fields)) continue;  // a row of separators
        if (first) {
            // A header names its columns; a first field that starts like a
            // number or a date is a bar, however broken.
            const std::string_view lead = fields[0];
            const bool bar_like = !lead.empty() && (is_digit(lead[0]) || (lead[0] == '-' && lead.size() > 1 &&
                                                                         is_digit(lead[1])));
            if (!bar_like) {
                if (!names_a_column(fields, options)) {
                    if (title_like(fields) && titles < kMostTitleLines) {
                        ++titles;
                        continue;
                    }
                    return fail(line_no, "neither a header naming the date, open, high, low and close "
                                         "columns nor a bar: date \"" + shown(fields[0]) +
                                         "\" is not a date; if it is a header, " + kColumnsHint);
                }
                if (!map_header(fields, options, columns, why)) return fail(line_no, why);
                columns.header_line = line_no;
                first = false;
                continue;
            }
            first = false;
            columns.stamp = 0;
            columns.open = 1;
            columns.high = 2;
            columns.low = 3;
            columns.close = 4;
        }

        if (columns.header) {
            if (fields.size() == columns.count &&
                same_column_name(fields[static_cast<std::size_t>(columns.stamp)], columns.stamp_name)) {
                // The header again: downloads pasted one after the other.
                restart = true;
                continue;
            }
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
        const auto field_at = [&](int column) { return fields[static_cast<std::size_t>(column)]; };

        if (columns.symbol >= 0) {
            // One series per file: a second symbol is never mixed into the first.
            const std::string_view here = field_at(columns.symbol);
            if (symbol_line == 0) {
                symbol.assign(here.data(), here.size());
                symbol_line = line_no;
            } else if (here != symbol) {
                return fail(line_no, "symbol \"" + shown(here) + "\" in column " + shown(columns.symbol_name) +
                                         " is not \"" + shown(symbol) + "\" of line " + std::to_string(symbol_line) +
                                         ": the file holds several symbols; save each in a file of its own "
                                         "to screen them");
            }
        }

        Bar bar{};
        std::string_view stamp = field_at(columns.stamp);
        if (columns.time >= 0) {
            // Reused from row to row: no allocation once it is long enough.
            joined_stamp.assign(stamp.data(), stamp.size());
            joined_stamp += ' ';
            joined_stamp.append(field_at(columns.time));
            stamp = joined_stamp;
        }
        struct Field {
            const char* name;
            int column;
            double* value;
        };
        const Field prices[] = {{"open", columns.open, &bar.open},
                                {"high", columns.high, &bar.high},
                                {"low", columns.low, &bar.low},
                                {"close", columns.close, &bar.close}};
        bool placeholder = false;
        for (const Field& f : prices) {
            const std::string_view value = field_at(f.column);
            if (parse_price(value, decimal_comma, *f.value)) continue;
            // A portal's row for a day without prices ("null" in each).
            placeholder = std::all_of(std::begin(prices), std::end(prices),
                                      [&](const Field& p) { return missing_value(field_at(p.column)); });
            if (placeholder) break;
            return fail(line_no, std::string(f.name) + " \"" + shown(value) + "\" is not a finite number");
        }
        if (placeholder) {
            ++out.placeholder_rows;
            continue;
        }
        if (!dates.read(stamp, line_no, bar.time, why)) return fail(line_no, why);
        if (bar.time < kEarliest || bar.time > kLatest) {
            const bool digits_only = stamp.find_first_not_of("0123456789") == std::string_view::npos;
            return fail(line_no, "date " + shown(stamp) + " is outside " + time_range_text() +
                                     ", the range of a bar record's time (int32 seconds since 1970)" +
                                     (digits_only && stamp.size() >= 12 ? "; epoch milliseconds?" : ""));
        }
        if (volume_column >= 0 && !parse_volume(field_at(volume_column), decimal_comma, bar.volume)) {
            // The analysis does not use the volume: the bar stays.
            bar.volume = 0;
            ++out.unknown_volumes;
        }
        const auto text_of = [&](int column) { return shown(field_at(column)); };
        if (bar.high < bar.low)
            return fail(line_no, "high " + text_of(columns.high) + " is below low " + text_of(columns.low));
        if (!std::isfinite(bar.high - bar.low))
            return fail(line_no, "the range high - low (" + text_of(columns.high) + " - " + text_of(columns.low) +
                                     ") is beyond the range of a double");
        for (const Field& f : {prices[0], prices[3]}) {
            if (*f.value < bar.low)
                return fail(line_no, std::string(f.name) + " " + text_of(f.column) + " is below low " +
                                         text_of(columns.low));
            if (*f.value > bar.high)
                return fail(line_no, std::string(f.name) + " " + text_of(f.column) + " is above high " +
                                         text_of(columns.high));
        }
        if (bar.volume < 0) return fail(line_no, "volume " + text_of(volume_column) + " is negative");
        if (out.bars.empty()) {
            // Room for as many bars as rows like this one fill the rest.
            const std::size_t rest = pos < text.size() ? text.size() - pos : 0;
            const std::size_t estimate = rest / (line.size() + 1) + 16;
            out.bars.reserve(estimate);
            lines.reserve(estimate);
        }
        if (restart) {
            restarts.push_back(out.bars.size());
            restart = false;
        }
        out.bars.push_back(bar);
        lines.push_back(line_no);
    }
    if (out.bars.empty()) {
        if (columns.header) return fail(line_no, "no bars after the header");
        return fail(line_no == 0 ? 1 : line_no, "the file is empty: no bars");
    }
    long line = 0;
    if (!dates.finish(line, why)) return fail(line, why);
    std::vector<Bar>& bars = out.bars;
    bool moved_out = false;
    dates.corrections([&](std::size_t i, int64_t delta) {
        bars[i].time += delta;
        if (!moved_out && (bars[i].time < kEarliest || bars[i].time > kLatest)) {
            moved_out = true;
            line = lines[i];
        }
    });
    if (moved_out)
        return fail(line, "this date is outside " + time_range_text() +
                              ", the range of a bar record's time (int32 seconds since 1970)");
    out.close_column = columns.close_name;
    if (!check_series(out, lines, restarts, why, line)) return fail(line, why);
    if (progress) progress("reading", 1.0);
    return true;
}

bool read_bars(const std::string& path, BarSeries& out, ReadError& error, const Progress& progress,
               const ReadOptions& options) {
    out = BarSeries{};
    std::string text, why;
    if (!read_file(path, text, why)) {
        error = ReadError{path, 0, why};
        return false;
    }
    return parse_bars(path, text, out, error, progress, options);
}

bool parse_bars(const std::string& name, std::string_view text, BarSeries& out, std::string& error,
                const Progress& progress, const ReadOptions& options) {
    ReadError e;
    if (parse_bars(name, text, out, e, progress, options)) return true;
    error = e.text();
    return false;
}

bool read_bars(const std::string& path, BarSeries& out, std::string& error, const Progress& progress,
               const ReadOptions& options) {
    ReadError e;
    if (read_bars(path, out, e, progress, options)) return true;
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
