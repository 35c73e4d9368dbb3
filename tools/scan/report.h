// What the host prints: a readable report of one file, a screen of many, and
// the same as JSON for machines.
#ifndef TIDEMARK_SCAN_REPORT_H
#define TIDEMARK_SCAN_REPORT_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis.h"
#include "screen_row.h"
#include "bars.h"

namespace tidemark::scan {

using namespace reader;
using namespace analysis;

// One file analysed.
struct Run {
    std::string input;    // the CSV file as named, "<stdin>", or the bundled sample's name
    bool sample = false;  // the bundled sample, because no file was given
    std::string library;  // the library file the exports came from
    BarSeries series;     // the bars analysed (after the window)
    std::size_t bars_in_file = 0;
    bool windowed = false;  // --from, --to or --last cut the series
    Analysis analysis;
    std::size_t levels_listed = 0;  // --levels N; 0: all
    std::string chart;              // the chart file, when asked for
    std::string chart_error;        // why it could not be written
};

// One row of a screen: a file's row, or why the file could not be used.
struct ScreenEntry {
    std::string file;
    std::string symbol;  // of a table of closes, a symbol per column: the column's
    // The file as a screen names it: with the symbol, when it has one.
    std::string label() const { return symbol.empty() ? file : file + " (" + symbol + ")"; }
    bool ok = false;
    ReadError error;  // when not ok
    ScreenRow row;    // when ok
    double mean_range = 0;
    int data_decimals = 8;  // of the bars' prices, for price_style
};

void write_report(std::FILE* out, const Run& run);
void write_screen(std::FILE* out, const std::vector<ScreenEntry>& entries, const Settings& settings);

// JSON: one object, one key per line (levels one per line); "library",
// "chart" and "seconds" are the only lines that may differ between two runs
// on the same input with the same settings.
void write_json(std::FILE* out, const Run& run);
// One array, one file's object per line.
void write_screen_json(std::FILE* out, const std::vector<ScreenEntry>& entries);
// The walk's rows (walk.h), each with its bar's date: CSV under a header of
// the fields' names (an empty value for null), or with json one array, a
// row's object per line. walk_start begins the text, walk_row adds a row,
// walk_end ends it.
std::string walk_start(bool json);
void walk_row(std::string& out, const ScreenRow& row, bool json, bool first);
std::string walk_end(bool json, bool empty);

// {"error": ..., "file": ..., "line": ...} on one line.
void write_error_json(std::FILE* out, const ReadError& error);

}  // namespace tidemark::scan

#endif
