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
#include "fast.h"
#include "fields.h"
#include "input.h"
#include "number.h"
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

// Rows of names under a header: a download library writes two.
constexpr std::size_t kMostNameRows = 3;

bool named_gz(const std::string& name) {
    return name.size() > 3 && ascii_lower(name[name.size() - 1]) == 'z' && ascii_lower(name[name.size() - 2]) == 'g' &&
           name[name.size() - 3] == '.';
}

// Added to every message about a file named .gz whose bytes are no gzip data.
constexpr const char* kNotGzip = " (the file is named .gz, but it is not gzip data)";

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

namespace {

// One read of a file, stage by stage: each line is either skipped, fixes the
// columns, or becomes a bar; after the last line the dates are settled and
// the order checked. Each stage returns false with the error set.
class SeriesReader {
public:
    // cppcheck-suppress uninitMemberVar ; fields_ is filled before it is read
    SeriesReader(const std::string& name, Source& raw, Source& text, BarSeries& out, ReadError& error,
                 const Progress& progress, const ReadOptions& options)
        : name_(name), raw_(raw), out_(out), error_(error), progress_(progress), options_(options), lines_(text),
          rows_(options.dates, options.symbol, options.spelling) {}

    bool read_rows();
    bool finish();
    // The source's name ends in .gz, but its bytes are no gzip data: every
    // message says so.
    void named_gzip_but_plain() { not_gzip_ = true; }

private:
    enum class Line { skipped, columns, bar };

    bool fail(long line, const std::string& what);
    void report_progress();
    bool next_fields();
    bool first_line(Line& kind);
    bool row(Line& kind, Bar& bar);
    [[gnu::cold, gnu::noinline]] bool not_a_bar(Line& kind);
    bool table_of_closes();
    std::string failed_download() const;
    bool add_bar(const Bar& bar, std::string_view line);
    void start_fast_rows();
    bool fast_rows();
    void reserve_for_file(std::size_t line_size);
    bool no_bars();
    bool settle_dates();
    bool settle_order();

    const std::string& name_;
    Source& raw_;
    BarSeries& out_;
    ReadError& error_;
    const Progress& progress_;
    const ReadOptions& options_;
    Lines lines_;
    long line_no_ = 0;
    Columns columns_;
    char separator_ = ',';
    bool separator_given_ = false;
    bool first_ = true;
    int titles_ = 0;
    std::string first_title_;     // for a file of text alone
    std::string_view line_;       // the line of fields_
    std::size_t names_rows_ = 0;  // rows of names under the header
    std::size_t notes_ = 0;       // lines that cannot be bars, among or after them
    bool not_gzip_ = false;
    Fields fields_;
    RowState rows_;
    BarLines bar_lines_;
    std::vector<std::size_t> restarts_;  // bars that follow a repeated header
    bool restart_ = false;
    // The fast rows: tried once the first bar has settled the columns and
    // the dates' form, off for a file whose lines keep not being theirs.
    enum class Fast { untried, on, off } fast_ = Fast::untried;
    FastRows fast_rows_;
    int fast_misses_ = 0;
    uint64_t next_report_ = 0;
    std::string why_;
};

bool SeriesReader::fail(long line, const std::string& what) {
    error_.file = name_;
    error_.line = line;
    error_.what = what;
    if (not_gzip_) error_.what += kNotGzip;
    const std::size_t fast_lines = out_.fast_lines;
    out_ = BarSeries{};  // the memory too
    out_.fast_lines = fast_lines;
    return false;
}

void SeriesReader::report_progress() {
    if (!progress_ || raw_.size() == 0 || raw_.position() < next_report_) return;
    progress_("reading", static_cast<double>(raw_.position()) / static_cast<double>(raw_.size()));
    next_report_ = raw_.position() + (1u << 20);
}

// Lines -> fields: the next line that holds fields into line_ and fields_,
// past blank lines, comments, a "sep=" line and rows of separators only.
// False at the end (or on a read error, which finish() reports) and on a
// line that cannot be split (error set).
bool SeriesReader::next_fields() {
    std::string_view line;
    while (lines_.next(line)) {
        line_no_ = lines_.number();
        report_progress();
        const std::size_t content = line.find_first_not_of(" \t");
        if (content == std::string_view::npos || line[content] == '#') continue;  // blank, or a comment
        if (first_ && !separator_given_) {
            // "sep=;", a spreadsheet's note of the separator, as the first line.
            if (titles_ == 0 && line.size() - content == 5 && line.compare(content, 4, "sep=") == 0) {
                separator_ = line[content + 4];
                separator_given_ = true;
                continue;
            }
            separator_ = detect_separator(line);
        }
        if (const char* fault = split(line, separator_, fields_)) return fail(line_no_, fault);
        if (all_empty(fields_)) continue;  // a row of separators
        line_ = line;
        return true;
    }
    return false;
}

// Header -> columns: the first line with fields is a header, a bar, or a
// title line before either.
bool SeriesReader::first_line(Line& kind) {
    const ColumnRequest request{options_.columns, options_.symbol, options_.spelling, separator_ == ';'};
    const FirstLine first = columns_from_first_line(fields_, line_no_, request, columns_, why_);
    switch (first) {
        case FirstLine::unnamed: {
            const std::string download = failed_download();
            if (!download.empty()) return fail(line_no_, download);
            if (title_like(fields_) && titles_ < kMostTitleLines) {
                if (titles_++ == 0) first_title_ = shown(line_);
                kind = Line::skipped;
                return true;
            }
            return fail(line_no_, why_);
        }
        case FirstLine::fault:
            return fail(line_no_, why_);
        case FirstLine::header:
        case FirstLine::bar:
            break;
    }
    first_ = false;
    rows_.mark = DecimalMark(separator_ == '\t', separator_ == ';');
    kind = first == FirstLine::header ? Line::columns : Line::bar;
    return true;
}

// Row -> bar: a line after the first, or the first when it is a bar. The
// usual row (columns known, a bar read before) goes straight to the row
// stage; what is rare is each in a function of its own, out of the way.
bool SeriesReader::row(Line& kind, Bar& bar) {
    if (first_ || out_.bars.empty()) {
        if (first_) {
            if (!first_line(kind)) return false;
            if (kind != Line::bar) return true;
        }
        if (!columns_.table.empty()) return table_of_closes();
        if (columns_.header && names_rows_ < kMostNameRows && row_of_names(fields_, columns_)) {
            ++names_rows_;
            kind = Line::skipped;
            return true;
        }
    }
    if (repeated_header(fields_, columns_)) {
        restart_ = true;
        kind = Line::skipped;
        return true;
    }
    switch (row_to_bar(fields_, columns_, line_no_, rows_, bar, why_)) {
        case RowResult::fault:
            return not_a_bar(kind);
        case RowResult::skipped:
            kind = Line::skipped;
            return true;
        case RowResult::bar:
            kind = Line::bar;
            return true;
    }
    return true;
}

// A line the row stage refused: a note skipped, or the file's fault, said
// with how its columns were taken when they were taken by position.
bool SeriesReader::not_a_bar(Line& kind) {
    if (note_line(fields_, columns_)) {
        ++notes_;
        kind = Line::skipped;
        return true;
    }
    if (out_.bars.empty() && !columns_.header && columns_.count > 0 && options_.columns.empty())
        why_ += " (the fields were taken by position as date, " + std::string(columns_.time >= 0 ? "time, " : "") +
                "open, high, low, close" + (columns_.volume >= 0 ? " and volume" : "") + ": name them with " +
                positions_example(options_.spelling) +
                ", adding time=N for a time of day)";
    return fail(line_no_, why_);
}

// What a first line that is neither header nor bar says of a download that
// failed: a web page, or a service's answer in JSON. Empty when neither.
std::string SeriesReader::failed_download() const {
    std::string_view text = line_;
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    if (text.empty()) return std::string();
    std::string lower;
    for (std::size_t i = 0; i < text.size() && i < 200; ++i) lower += ascii_lower(text[i]);
    if (text.front() == '<' && (lower.find("html") != std::string::npos || lower.compare(0, 5, "<?xml") == 0 ||
                                lower.compare(0, 9, "<!doctype") == 0))
        return "a web page (HTML or XML), not a CSV file: the download failed or was sent to a login page; open "
               "it in a browser to see what it says";
    if (text.front() != '{' && text.front() != '[') return std::string();
    // The service's own words, where it gives them.
    std::string said;
    for (const char* key : {"\"error message\"", "\"message\"", "\"error\"", "\"information\"", "\"note\""}) {
        const std::size_t at = lower.find(key);
        if (at == std::string::npos) continue;
        const std::size_t open = text.find('"', text.find(':', at + std::strlen(key)));
        if (open == std::string_view::npos) continue;
        const std::size_t close = text.find('"', open + 1);
        said = std::string(text.substr(open + 1, std::min<std::size_t>(close, text.size()) - open - 1));
        break;
    }
    if (said.size() > 120) {
        said.resize(117);
        said += "...";
    }
    return "JSON, not CSV: the service answered " + (said.empty() ? std::string("with JSON") : "\"" + valid_utf8(said) + "\"") +
           " instead of the data (a failed download?)";
}

// A header of a date and of columns that name no price, a symbol each: its
// first row tells whether it is a table of closes (numbers or empty cells),
// of which one must be chosen.
bool SeriesReader::table_of_closes() {
    bool numbers = fields_.size() == columns_.count;
    for (std::size_t k = 0; numbers && k < columns_.table.size(); ++k) {
        const std::string_view cell = fields_[static_cast<std::size_t>(columns_.table[k])];
        double value = 0;
        numbers = missing_value(cell) || parse_price(cell, separator_ == ';', value);
    }
    if (!numbers) return fail(columns_.header_line, columns_.table_refusal);
    const std::vector<std::string>& names = columns_.table_names;
    error_.symbols = names;
    return fail(columns_.header_line,
                "a table of closes, one symbol per column (" + std::to_string(names.size()) + ": " + shown_list(names) +
                    "): choose one with " + options_.spelling.with(options_.spelling.symbol, "NAME", true));
}

// Room for as many bars as rows like those so far fill the file (and some),
// so that the bars are not copied to grow, which takes their memory twice,
// unless the estimate falls short (as for a compressed file). The source
// reads ahead of the rows: the bytes read so far hold fewer bars than they
// seem to.
void SeriesReader::reserve_for_file(std::size_t line_size) {
    std::vector<Bar>& bars = out_.bars;
    if (bars.size() != bars.capacity() || raw_.size() == 0) return;
    const double read = static_cast<double>(std::max<uint64_t>(raw_.position(), 1));
    const double per_bar = bars.empty() ? static_cast<double>(line_size + 1) : read / static_cast<double>(bars.size());
    const double rest =
        static_cast<double>(raw_.size()) - (bars.empty() ? 0.0 : std::min(read, static_cast<double>(raw_.size())));
    const double want =
        static_cast<double>(bars.size()) + (1.05 * rest + (bars.empty() ? 0.0 : 4.0 * (1 << 20))) / per_bar + 16;
    // An estimate beyond the memory there is (a 32-bit host, or a file that
    // turns out to hold few bars) is no failure yet: the bars then grow as
    // they come.
    try {
        if (want < static_cast<double>(bars.max_size())) bars.reserve(static_cast<std::size_t>(want));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
}

// Bar -> series: the bar again (two downloads that overlap) is dropped and
// counted; with other prices it is refused, in the words a front end's own
// arrays get.
bool SeriesReader::add_bar(const Bar& bar, std::string_view line) {
    std::vector<Bar>& bars = out_.bars;
    if (!restart_ && !bars.empty() && bar.time == bars.back().time) {
        const Bar& prev = bars.back();
        if (same_values(bar, prev)) {
            ++out_.duplicates_dropped;
            return true;
        }
        OrderCheck repeat;
        repeat.ok = false;
        repeat.index = 1;
        const int64_t pair[2] = {prev.time, bar.time};
        return fail(line_no_, order_fault_text(Times(pair, 2), repeat));
    }
    reserve_for_file(line.size());
    if (restart_) {
        restarts_.push_back(bars.size());
        restart_ = false;
    }
    bars.push_back(bar);
    bar_lines_.push(line_no_);
    return true;
}

void SeriesReader::start_fast_rows() {
    const bool shape = options_.fast_rows && options_.symbol.empty() && !rows_.mark.open() &&
                       fast_rows_.set(columns_, separator_, rows_.mark.comma());
    fast_ = shape ? Fast::on : Fast::off;
}

// The lines of the common shape, many at a time straight from the chunk,
// up to one that is not (or that the chunk cuts), which the stages then
// read: every line is read once, by one or the other.
bool SeriesReader::fast_rows() {
    for (;;) {
        const std::string_view text = lines_.rest();
        const char* const start = text.data();
        const char* const end = start + text.size();
        const char* p = start;
        const long first = lines_.number();
        long taken = 0;
        bool added = true;
        Bar bar{};
        for (const char* line = p; fast_rows_.row(p, end, rows_.dates, bar); line = p) {
            line_no_ = first + ++taken;
            added = add_bar(bar, std::string_view(line, static_cast<std::size_t>(p - line)));
            if (!added) break;
        }
        lines_.took(static_cast<std::size_t>(p - start), taken);
        out_.fast_lines += static_cast<std::size_t>(taken);
        if (!added) return false;
        report_progress();
        // A file whose lines are mostly not of the shape: the stages alone.
        fast_misses_ = taken > 0 ? 0 : fast_misses_ + 1;
        if (fast_misses_ >= 64) fast_ = Fast::off;
        if (p != end || text.empty()) return true;
    }
}

// The stages in order, line by line; the fast rows, once they can, between
// the lines the stages read.
bool SeriesReader::read_rows() {
    for (;;) {
        if (fast_ == Fast::on && !fast_rows()) return false;
        if (!next_fields()) break;
        Line kind = Line::skipped;
        Bar bar{};
        if (!row(kind, bar)) return false;
        if (kind == Line::bar && !add_bar(bar, line_)) return false;
        if (fast_ == Fast::untried && !out_.bars.empty()) start_fast_rows();
    }
    return error_.what.empty();
}

// Why a file gave no bars.
bool SeriesReader::no_bars() {
    const long line_no = lines_.number();
    if (rows_.other_symbols > 0) {
        const std::string symbols = shown_list(rows_.other_symbol_names,
                                               rows_.other_symbol_names.size() == RowState::kSymbolsNamed);
        return fail(line_no, "no row has the symbol \"" + shown(options_.symbol) + "\" chosen by " +
                                 options_.spelling.symbol + " (" + std::to_string(rows_.other_symbols) +
                                 (rows_.other_symbols == 1 ? " row of another" : " rows of others") +
                                 "); the file's symbols: " + symbols);
    }
    if (columns_.header) return fail(line_no, "no bars after the header");
    if (titles_ > 0)
        return fail(line_no, "the file holds text alone, no header and no bars: \"" + first_title_ + "\"" +
                                 (titles_ > 1 ? " and " + std::to_string(titles_ - 1) + " more lines" : "") +
                                 " (a failed download?)");
    return fail(line_no == 0 ? 1 : line_no, "the file is empty: no bars");
}

// The order settled late, or local midnights kept: the dates read before
// are put right, and a date moved can leave a bar record's range.
bool SeriesReader::settle_dates() {
    std::vector<Bar>& bars = out_.bars;
    long line_no = 0;
    if (!rows_.dates.finish(line_no, why_)) return fail(line_no, why_);
    std::size_t outside = bars.size();
    rows_.dates.corrections([&](std::size_t i, int64_t delta) {
        bars[i].time += delta;
        if (outside == bars.size() && !in_record_time(bars[i].time)) outside = i;
    });
    if (outside < bars.size())
        return fail(bar_lines_[outside], outside_time_range(time_text(bars[outside].time, false), false));
    return true;
}

// Series checks: oldest or newest first, or parts pasted together merged.
bool SeriesReader::settle_order() {
    std::vector<Bar>& bars = out_.bars;
    const Times times = times_of(bars);
    const OrderCheck order = check_order(times);
    if (!order) {
        out_.newest_first = order.newest_first;
        if (out_.newest_first) std::reverse(bars.begin(), bars.end());
        return true;
    }
    if (restarts_.empty()) return fail(bar_lines_[order.index], order_fault_text(times, order));
    long line_no = 0;
    std::vector<uint32_t> lines_of = bar_lines_.all();
    if (!merge_series(out_, lines_of, restarts_, line_no, why_)) return fail(line_no, why_);
    return true;
}

bool SeriesReader::finish() {
    if (lines_.failed()) return fail(lines_.failed_line(), lines_.why());
    if (out_.bars.empty()) return no_bars();
    if (!settle_dates()) return false;
    out_.placeholder_rows = rows_.placeholders;
    out_.unknown_volumes = rows_.unknown_volumes;
    out_.other_symbol_rows = rows_.other_symbols;
    out_.close_column = columns_.close_name;
    out_.close_only = columns_.close_only;
    out_.period = rows_.dates.period();
    out_.name_rows_skipped = names_rows_;
    out_.notes_skipped = notes_;
    if (!settle_order()) return false;
    out_.intraday = intraday(times_of(out_.bars));
    if (progress_) progress_("reading", 1.0);
    return true;
}

}  // namespace

bool read_series(const std::string& name, Source& raw, BarSeries& out, ReadError& error,
                 const Progress& progress, const ReadOptions& options) {
    out = BarSeries{};
    error = ReadError{};
    std::string why;
    bool gzip = false;
    const std::unique_ptr<Source> text = text_of(raw, why, &gzip);
    const bool not_gzip = !gzip && named_gz(name);
    if (!text) {
        error = ReadError{name, 0, not_gzip ? why + kNotGzip : why};
        return false;
    }
    SeriesReader reader(name, raw, *text, out, error, progress, options);
    if (not_gzip) reader.named_gzip_but_plain();
    return reader.read_rows() && reader.finish();
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
