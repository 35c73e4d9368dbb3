// The reader's stages in order: bytes -> lines -> fields -> columns -> bars ->
// series checks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

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

// Each bar's line, for the messages about order and repeats, in the room of
// the few bars that do not follow on the next line: a file's bars mostly
// do, and a line number kept for each would add to the memory a read takes.
class BarLines {
public:
    void push(long line) {
        if (size_ == 0 || line != last_ + 1) starts_.push_back({size_, line});
        last_ = line;
        ++size_;
    }
    long operator[](std::size_t bar) const {
        const auto after = std::upper_bound(starts_.begin(), starts_.end(), bar,
                                            [](std::size_t b, const Start& s) { return b < s.bar; });
        const Start& start = *(after - 1);
        return start.line + static_cast<long>(bar - start.bar);
    }
    std::vector<uint32_t> all() const {
        std::vector<uint32_t> lines(size_);
        for (std::size_t i = 0; i < size_; ++i) lines[i] = static_cast<uint32_t>((*this)[i]);
        return lines;
    }

private:
    struct Start {
        std::size_t bar;
        long line;
    };
    std::vector<Start> starts_;
    std::size_t size_ = 0;
    long last_ = 0;
};

// The record layout the host hands to the library; the header's struct must
// agree with it byte for byte.
constexpr std::size_t kRecordSize = kRecordBytes;
static_assert(sizeof(BarRecord) == kRecordSize, "BarRecord is 44 bytes");
static_assert(offsetof(BarRecord, time) == 0, "time at 0");
static_assert(offsetof(BarRecord, open) == 4, "open at 4");
static_assert(offsetof(BarRecord, low) == 12, "low at 12");
static_assert(offsetof(BarRecord, high) == 20, "high at 20");
static_assert(offsetof(BarRecord, close) == 28, "close at 28");
static_assert(offsetof(BarRecord, volume) == 36, "volume at 36");

}  // namespace

std::string ReadError::text() const {
    if (file.empty()) return what;
    return line > 0 ? file + ":" + std::to_string(line) + ": " + what : file + ": " + what;
}

Times times_of(const std::vector<Bar>& bars) {
    return Times(bars.empty() ? nullptr : &bars[0].time, bars.size(), sizeof(Bar));
}

bool read_series(const std::string& name, Source& raw, BarSeries& out, ReadError& error,
                 const Progress& progress, const ReadOptions& options) {
    out = BarSeries{};
    error = ReadError{};
    const auto fail = [&](long line, const std::string& what) {
        error.file = name;
        error.line = line;
        error.what = what;
        out = BarSeries{};  // the memory too
        return false;
    };
    std::string why;
    const std::unique_ptr<Source> text = text_of(raw, why);
    if (!text) return fail(0, why);

    Lines lines(*text);
    Columns columns;
    char separator = ',';
    bool separator_given = false;
    bool first = true;
    int titles = 0;
    Fields fields;
    RowState rows(options.dates, options.symbol);
    BarLines bar_lines;
    std::vector<std::size_t> restarts;  // bars that follow a repeated header
    bool restart = false;
    uint64_t next_report = 0;
    std::string_view line;
    std::vector<Bar>& bars = out.bars;
    while (lines.next(line)) {
        const long line_no = lines.number();
        if (progress && raw.size() > 0 && raw.position() >= next_report) {
            progress("reading", static_cast<double>(raw.position()) / static_cast<double>(raw.size()));
            next_report = raw.position() + (1u << 20);
        }
        const std::size_t content = line.find_first_not_of(" \t");
        if (content == std::string_view::npos || line[content] == '#') continue;  // blank, or a comment

        if (first && !separator_given) {
            // "sep=;", a spreadsheet's note of the separator, as the first line.
            if (titles == 0 && line.size() - content == 5 && line.compare(content, 4, "sep=") == 0) {
                separator = line[content + 4];
                separator_given = true;
                continue;
            }
            separator = detect_separator(line);
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
        Bar bar{};
        // A ";" file writes its decimals with a comma.
        const bool decimal_comma = separator == ';';
        switch (row_to_bar(fields, columns, decimal_comma, line_no, rows, bar, why)) {
            case RowResult::fault:
                return fail(line_no, why);
            case RowResult::skipped:
                continue;
            case RowResult::bar:
                break;
        }
        if (!restart && !bars.empty() && bar.time == bars.back().time) {
            // The bar again (two downloads that overlap): dropped and
            // counted; with other prices it is refused, in the words a
            // front end's own arrays get.
            const Bar& prev = bars.back();
            if (same_values(bar, prev)) {
                ++out.duplicates_dropped;
                continue;
            }
            OrderCheck repeat;
            repeat.ok = false;
            repeat.index = 1;
            const int64_t pair[2] = {prev.time, bar.time};
            return fail(line_no, order_fault_text(Times(pair, 2), repeat));
        }
        if (bars.size() == bars.capacity() && raw.size() > 0) {
            // Room for as many bars as rows like those so far fill the file
            // (and some), so that the bars are not copied to grow, which
            // takes their memory twice, unless the estimate falls short (as
            // for a compressed file). The source reads ahead of the rows: the
            // bytes read so far hold fewer bars than they seem to.
            const double read = static_cast<double>(std::max<uint64_t>(raw.position(), 1));
            const double per_bar =
                bars.empty() ? static_cast<double>(line.size() + 1) : read / static_cast<double>(bars.size());
            const double rest = static_cast<double>(raw.size()) - (bars.empty() ? 0.0 : std::min(read, static_cast<double>(raw.size())));
            const double want = static_cast<double>(bars.size()) + (1.05 * rest + (bars.empty() ? 0.0 : 4.0 * (1 << 20))) / per_bar + 16;
            // An estimate beyond the memory there is (a 32-bit host, or a
            // file that turns out to hold few bars) is no failure yet: the
            // bars then grow as they come.
            try {
                if (want < static_cast<double>(bars.max_size())) bars.reserve(static_cast<std::size_t>(want));
            } catch (const std::bad_alloc&) {
            } catch (const std::length_error&) {
            }
        }
        if (restart) {
            restarts.push_back(bars.size());
            restart = false;
        }
        bars.push_back(bar);
        bar_lines.push(line_no);
    }
    if (lines.failed()) return fail(lines.failed_line(), lines.why());
    if (bars.empty()) {
        const long line_no = lines.number();
        if (rows.other_symbols > 0)
            return fail(line_no, "no row has the symbol \"" + shown(options.symbol) + "\" chosen by --symbol (" +
                                     std::to_string(rows.other_symbols) +
                                     (rows.other_symbols == 1 ? " row of another)" : " rows of others)"));
        if (columns.header) return fail(line_no, "no bars after the header");
        return fail(line_no == 0 ? 1 : line_no, "the file is empty: no bars");
    }

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
        return fail(bar_lines[outside], outside_time_range(time_text(bars[outside].time, false), false));
    out.placeholder_rows = rows.placeholders;
    out.unknown_volumes = rows.unknown_volumes;
    out.other_symbol_rows = rows.other_symbols;
    out.close_column = columns.close_name;

    const Times times = times_of(bars);
    const OrderCheck order = check_order(times);
    if (!order) {
        out.newest_first = order.newest_first;
        if (out.newest_first) std::reverse(bars.begin(), bars.end());
    } else if (restarts.empty()) {
        return fail(bar_lines[order.index], order_fault_text(times, order));
    } else if (std::vector<uint32_t> lines_of = bar_lines.all(); !merge_series(out, lines_of, restarts, line_no, why)) {
        return fail(line_no, why);
    }
    out.intraday = intraday(times_of(bars));
    if (progress) progress("reading", 1.0);
    return true;
}

bool parse_bars(const std::string& name, std::string_view text, BarSeries& out, ReadError& error,
                const Progress& progress, const ReadOptions& options) {
    MemorySource source(text);
    return read_series(name, source, out, error, progress, options);
}

bool read_bars(const std::string& path, BarSeries& out, ReadError& error, const Progress& progress,
               const ReadOptions& options) {
    out = BarSeries{};
    uint64_t size = 0;
    std::string why;
    std::FILE* file = open_to_read(path, size, why);
    if (file == nullptr) {
        error = ReadError{path, 0, why};
        return false;
    }
    // Closed however the reading ends (it may throw for want of memory).
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, std::fclose);
    FileSource source(file, size);
    return read_series(path, source, out, error, progress, options);
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

void layout_records(const std::vector<Bar>& bars, std::size_t first_shift, std::size_t count, unsigned char* out) {
    for (std::size_t k = 0; k < count; ++k) {
        const Bar& bar = bars[bars.size() - 1 - (first_shift + k)];
        unsigned char* record = out + k * kRecordSize;
        const auto time = static_cast<int32_t>(bar.time);
        std::memcpy(record + offsetof(BarRecord, time), &time, sizeof time);
        std::memcpy(record + offsetof(BarRecord, open), &bar.open, sizeof bar.open);
        std::memcpy(record + offsetof(BarRecord, low), &bar.low, sizeof bar.low);
        std::memcpy(record + offsetof(BarRecord, high), &bar.high, sizeof bar.high);
        std::memcpy(record + offsetof(BarRecord, close), &bar.close, sizeof bar.close);
        std::memcpy(record + offsetof(BarRecord, volume), &bar.volume, sizeof bar.volume);
    }
}

std::vector<unsigned char> layout_records(const std::vector<Bar>& bars) {
    std::vector<unsigned char> records(bars.size() * kRecordSize);
    layout_records(bars, 0, bars.size(), records.data());
    return records;
}

}  // namespace tidemark::reader
