// The reader's stages in order: bytes -> lines -> fields -> columns -> bars ->
// series checks.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "bars.h"
#include "bytes.h"
#include "columns.h"
#include "fields.h"
#include "input.h"
#include "row.h"
#include "series.h"
#include "text.h"
#include "tidemark.h"

namespace tidemark::reader {
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

}  // namespace

std::string ReadError::text() const {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + what : file + ": " + what;
}

Times times_of(const std::vector<Bar>& bars) {
    return Times(bars.empty() ? nullptr : &bars[0].time, bars.size(), sizeof(Bar));
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
    if (const char* why = encoding_fault(text)) return fail(0, why);

    Lines lines(text);
    Columns columns;
    char separator = ',';
    bool decimal_comma = false, separator_given = false;
    bool first = true;
    int titles = 0;
    Fields fields;
    RowState rows(options.dates, options.symbol);
    std::vector<long> bar_lines;        // each bar's line, for messages about order
    std::vector<std::size_t> restarts;  // bars that follow a repeated header
    bool restart = false;
    std::size_t next_report = 0;
    std::string why;
    std::string_view line;
    while (lines.next(line)) {
        const long line_no = lines.number();
        if (progress && lines.consumed() >= next_report) {
            progress("reading", static_cast<double>(lines.consumed()) / static_cast<double>(lines.size()));
            next_report = lines.consumed() + (1u << 20);
        }
        const std::size_t content = line.find_first_not_of(" \t");
        if (content == std::string_view::npos || line[content] == '#') continue;  // blank, or a comment

        if (first && !separator_given) {
            // "sep=;", a spreadsheet's note of the separator, as the first line.
            if (titles == 0 && line.size() - content == 5 && line.compare(content, 4, "sep=") == 0) {
                separator = line[content + 4];
                decimal_comma = separator == ';';
                separator_given = true;
                continue;
            }
            separator = detect_separator(line);
            decimal_comma = separator == ';';
        }
        if (const char* fault = split(line, separator, fields)) return fail(line_no, fault);
        if (all_empty(fields)) continue;  // a row of separators
        if (first) {
            switch (columns_from_first_line(fields, line_no, options.columns, columns, why)) {
                case FirstLine::unnamed:
                    if (title_like(fields) && titles < kMostTitleLines) {
                        ++titles;
                        continue;
                    }
                    return fail(line_no, why);
                case FirstLine::fault:
                    return fail(line_no, why);
                case FirstLine::header:
                    first = false;
                    continue;
                case FirstLine::bar:
                    first = false;
                    break;
            }
        } else if (repeated_header(fields, columns)) {
            restart = true;
            continue;
        }
        Bar bar;
        switch (row_to_bar(fields, columns, decimal_comma, line_no, rows, bar, why)) {
            case RowResult::fault:
                return fail(line_no, why);
            case RowResult::skipped:
                continue;
            case RowResult::bar:
                break;
        }
        if (out.bars.empty()) {
            // Room for as many bars as rows like this one fill the rest.
            const std::size_t estimate = lines.remaining() / (line.size() + 1) + 16;
            out.bars.reserve(estimate);
            bar_lines.reserve(estimate);
        }
        if (restart) {
            restarts.push_back(out.bars.size());
            restart = false;
        }
        out.bars.push_back(bar);
        bar_lines.push_back(line_no);
    }
    if (out.bars.empty()) {
        const long line_no = lines.number();
        if (rows.other_symbols > 0)
            return fail(line_no, "no row has the symbol \"" + shown(options.symbol) + "\" chosen by --symbol (" +
                                     std::to_string(rows.other_symbols) +
                                     (rows.other_symbols == 1 ? " row of another)" : " rows of others)"));
        if (columns.header) return fail(line_no, "no bars after the header");
        return fail(line_no == 0 ? 1 : line_no, "the file is empty: no bars");
    }

    std::vector<Bar>& bars = out.bars;
    long line_no = 0;
    if (!rows.dates.finish(line_no, why)) return fail(line_no, why);
    // The order settled late, or local midnights kept: a date moved can
    // leave a bar record's range.
    std::size_t outside = bars.size();
    rows.dates.corrections([&](std::size_t i, int64_t delta) {
        bars[i].time += delta;
        if (outside == bars.size() && (bars[i].time < kEarliestTime || bars[i].time > kLatestTime)) outside = i;
    });
    if (outside < bars.size())
        return fail(bar_lines[outside], outside_bar_range(time_text(bars[outside].time, false)));
    out.placeholder_rows = rows.placeholders;
    out.unknown_volumes = rows.unknown_volumes;
    out.other_symbol_rows = rows.other_symbols;
    out.close_column = columns.close_name;

    const Times times = times_of(bars);
    const OrderCheck order = check_order(times);
    if (!order) {
        out.newest_first = order.newest_first;
        if (out.newest_first) std::reverse(bars.begin(), bars.end());
    } else if (!merge_series(out, bar_lines, restarts, line_no, why)) {
        return fail(line_no, why);
    }
    out.intraday = intraday(times_of(bars));
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

}  // namespace tidemark::reader
