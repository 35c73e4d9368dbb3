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
#include "tidemark.h"

namespace tidemark::reader {
namespace {

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
                 const Progress& progress) {
    out = BarSeries{};
    error = ReadError{};
    const auto fail = [&](long line, const std::string& what) {
        error.file = name;
        error.line = line;
        error.what = what;
        out.bars = std::vector<Bar>();  // the memory too
        return false;
    };
    std::string why;
    const std::unique_ptr<Source> text = text_of(raw, why);
    if (!text) return fail(0, why);

    Lines lines(*text);
    Columns columns;
    char separator = ',';
    bool decimal_comma = false;
    bool first = true;
    Fields fields;
    // The line of the first bar that breaks each order, for the message once
    // the first and last dates tell which order the file has.
    long not_rising = 0, not_falling = 0;
    uint64_t next_report = 0;
    std::string scratch;
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
        Bar bar{};
        if (!row_to_bar(fields, columns, decimal_comma, scratch, bar, why)) return fail(line_no, why);
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
        if (!bars.empty()) {
            if (not_rising == 0 && bar.time <= bars.back().time) not_rising = line_no;
            if (not_falling == 0 && bar.time >= bars.back().time) not_falling = line_no;
        }
        bars.push_back(bar);
    }
    if (lines.failed()) return fail(lines.failed_line(), lines.why());
    if (bars.empty()) {
        const long line_no = lines.number();
        if (columns.header) return fail(line_no, "no bars after the header");
        return fail(line_no == 0 ? 1 : line_no, "the file is empty: no bars");
    }

    const Times times = times_of(bars);
    const OrderCheck order = check_order(times);
    if (order) return fail(order.newest_first ? not_falling : not_rising, order_fault_text(times, order));
    out.newest_first = order.newest_first;
    if (out.newest_first) std::reverse(bars.begin(), bars.end());
    out.intraday = intraday(times_of(bars));
    if (progress) progress("reading", 1.0);
    return true;
}

bool parse_bars(const std::string& name, std::string_view text, BarSeries& out, ReadError& error,
                const Progress& progress) {
    MemorySource source(text);
    return read_series(name, source, out, error, progress);
}

bool read_bars(const std::string& path, BarSeries& out, ReadError& error, const Progress& progress) {
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
    return read_series(path, source, out, error, progress);
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
