// Price bars from the CSV files people have, and their layout as the host's
// BarRecord array. Nothing here touches a terminal; read_bars opens its file
// through input.h, everything else works on text already read. The stages
// behind parse_bars: bytes.h, fields.h, columns.h, timestamp.h, number.h,
// row.h and series.h.
#ifndef TIDEMARK_READER_BARS_H
#define TIDEMARK_READER_BARS_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "columns.h"
#include "series.h"
#include "timestamp.h"

namespace tidemark::reader {

struct Bar {
    int64_t time;  // seconds since 1970-01-01 00:00 UTC (midnight for a date alone)
    double open, high, low, close;
    double volume;  // 0 when the file has no volume column
};

// The same prices and volume: a bar repeated, not a second bar of its date.
inline bool same_values(const Bar& a, const Bar& b) {
    return a.open == b.open && a.high == b.high && a.low == b.low && a.close == b.close && a.volume == b.volume;
}

struct BarSeries {
    std::vector<Bar> bars;      // oldest first, whatever the file's order
    bool intraday = false;      // some bar's time is not midnight UTC
    bool newest_first = false;  // the file listed the bars newest first
    // What the reader did that the user should know of.
    std::size_t duplicates_dropped = 0;  // bars repeated exactly (two downloads that overlap)
    std::size_t placeholder_rows = 0;    // rows of "null" prices, skipped
    std::size_t unknown_volumes = 0;     // bars kept whose volume could not be read (0 in the bar)
    std::string close_column;            // set when the close is an adjusted close, the file's only one
    std::size_t other_symbol_rows = 0;   // rows of other symbols than the one chosen, skipped
    bool close_only = false;             // closes alone: each bar's open, high and low are its close
    BarPeriod period = BarPeriod::written;  // bars of weeks, months or quarters, dated by their first day
    std::size_t name_rows_skipped = 0;   // rows of names under the header (tickers, units)
    std::size_t notes_skipped = 0;       // lines among or after the bars that cannot be bars
};

// What the user tells the reader: the order of numeric dates and the names
// of columns it does not know.
struct ReadOptions {
    DateOrder dates = DateOrder::automatic;
    std::vector<ColumnChoice> columns = {};
    std::string symbol = {};  // of a file of several symbols, the one to read
    // How the caller spells these options in the messages that name one.
    OptionSpelling spelling = {};
};

// Called now and then with the stage under way and the share of it done,
// 0 ... 1.
using Progress = std::function<void(const char* stage, double done)>;

// What is wrong with an input, and where.
struct ReadError {
    std::string file;  // as named by the caller
    long line = 0;     // 1-based; 0 when no line applies
    std::string what;
    // A table of closes, one symbol per column, read without choosing one:
    // its symbols, so that a front end can read each (or screen them all).
    std::vector<std::string> symbols = {};
    // "FILE:LINE: what", or "FILE: what" when no line applies, or what alone
    // when no file does.
    std::string text() const;
};

// The error of a file whose bars do not fit in memory: a file like any
// other that cannot be used, not the end of the program (or of a screen).
constexpr const char* kNoMemory = "not enough memory to read and analyse it";

// Reads a CSV of bars. The accepted forms:
// - columns found by their header names as columns.h reads them (or as
//   options.columns names them), in any order; other columns are ignored.
//   Without a header: date, open, high, low, close and an optional volume,
//   in that order. Title lines (a field or two) before the header, a
//   "sep=;" first line, rows of separators only and the header repeated
//   later are skipped;
// - separated by ",", ";" or tab (the most frequent outside quotes on the
//   first line); with ";" a decimal comma is accepted;
// - fields may be quoted ("...", "" inside for a quote) and hold the separator;
// - UTF-8 (with or without a byte-order mark), UTF-16 with a byte-order mark,
//   gzip-compressed or not (bytes.h); LF, CRLF or CR line ends; blank lines
//   and lines starting with # are skipped;
// - oldest or newest bar first, told from the first and last dates; dates in
//   between must keep that order, except after a repeated header (pasted
//   downloads, merged); a bar repeated exactly is dropped and counted, a date
//   repeated with other prices refused;
// - dates as timestamp.h reads them, one form and one day-month order for the
//   whole file; times converted to UTC, except that a file stamped at local
//   midnights keeps its written dates; all within a bar record's int32 time;
// - prices and volumes as number.h reads them; a row whose prices are all
//   "null" is skipped and counted; a volume that cannot be read is 0 and
//   counted;
// - one symbol: a symbol column whose value changes is refused, unless
//   options.symbol chooses one (the rows of the others are skipped);
// - every price finite, low <= open, close <= high, the range high - low
//   finite, the volume 0 or more. Negative prices are allowed.
// Anything else: returns false with error set (text() is one line) and out
// empty.
bool parse_bars(const std::string& name, std::string_view text, BarSeries& out, ReadError& error,
                const Progress& progress = nullptr, const ReadOptions& options = ReadOptions{});

class Source;
// Same, from any source of bytes (a file, standard input, a buffer), read a
// chunk at a time: the memory it takes is the bars', not the file's.
bool read_series(const std::string& name, Source& raw, BarSeries& out, ReadError& error,
                 const Progress& progress = nullptr, const ReadOptions& options = ReadOptions{});

// Same, reading the file at path (UTF-8 on every system).
bool read_bars(const std::string& path, BarSeries& out, ReadError& error,
               const Progress& progress = nullptr, const ReadOptions& options = ReadOptions{});

// Both, with the error as its one line of text, ReadError::text().
bool parse_bars(const std::string& name, std::string_view text, BarSeries& out, std::string& error,
                const Progress& progress = nullptr, const ReadOptions& options = ReadOptions{});
bool read_bars(const std::string& path, BarSeries& out, std::string& error,
               const Progress& progress = nullptr, const ReadOptions& options = ReadOptions{});

// The bars as a host lays them out: 44-byte packed BarRecords, index 0 the
// newest bar, so bar i of the series is record size - 1 - i.
std::vector<unsigned char> layout_records(const std::vector<Bar>& bars);

// The bytes of one BarRecord.
constexpr std::size_t kRecordBytes = 44;

// Records first_shift ... first_shift + count - 1 of that layout (shift 0 the
// newest bar) into out, count * kRecordBytes bytes: a part of the records,
// for a long series a block at a time.
void layout_records(const std::vector<Bar>& bars, std::size_t first_shift, std::size_t count, unsigned char* out);

// The times of bars, for the series checks (series.h).
Times times_of(const std::vector<Bar>& bars);

}  // namespace tidemark::reader

#endif
