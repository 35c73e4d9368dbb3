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
    if (const char* why = encoding_fault(text)) return fail(0, why);

    Lines lines(text);
    Columns columns;
    char separator = ',';
    bool decimal_comma = false;
    bool first = true;
    Fields fields;
    std::vector<long> bar_lines;  // each bar's line, for messages about order
    std::size_t next_report = 0;
    std::string scratch, why;
    std::string_view line;
    while (lines.next(line)) {
        const long line_no = lines.number();
        if (progress && lines.consumed() >= next_report) {
            progress("reading", static_cast<double>(lines.consumed()) / static_cast<double>(lines.size()));
            next_report = lines.consumed() + (1u << 20);
        }
        const std::size_t content = line.find_first_not_of(" \t");
        if (content == std::string_view::npos || line[content] == '#') continue;  // blank, or a comment

        if (first) {
            separator = detect_separator(line);
            decimal_comma = separator == ';';
        }
        if (const char* fault = split(line, separator, fields)) return fail(line_no, fault);
        if (first) {
            first = false;
            if (!columns_from_first_line(fields, line_no, columns, why)) return fail(line_no, why);
            if (columns.header) continue;
        }
        Bar bar;
        if (!row_to_bar(fields, columns, decimal_comma, scratch, bar, why)) return fail(line_no, why);
        if (out.bars.empty()) {
            // Room for as many bars as rows like this one fill the rest.
            const std::size_t estimate = lines.remaining() / (line.size() + 1) + 16;
            out.bars.reserve(estimate);
            bar_lines.reserve(estimate);
        }
        out.bars.push_back(bar);
        bar_lines.push_back(line_no);
    }
    if (out.bars.empty()) {
        const long line_no = lines.number();
        if (columns.header) return fail(line_no, "no bars after the header");
        return fail(line_no == 0 ? 1 : line_no, "the file is empty: no bars");
    }

    std::vector<Bar>& bars = out.bars;
    const Times times = times_of(bars);
    const OrderCheck order = check_order(times);
    if (order)
        return fail(bar_lines[order.index],
                    order_fault_text(times, order, " on line " + std::to_string(bar_lines[order.index - 1])));
    out.newest_first = order.newest_first;
    if (out.newest_first) std::reverse(bars.begin(), bars.end());
    out.intraday = intraday(times_of(bars));
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

}  // namespace tidemark::reader
