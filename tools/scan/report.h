// What the host prints and draws: a readable report, JSON for machines and an
// SVG chart.
#ifndef TIDEMARK_SCAN_REPORT_H
#define TIDEMARK_SCAN_REPORT_H

#include <cstdio>
#include <string>

#include "analysis.h"
#include "bars.h"

namespace tidemark::scan {

struct Run {
    std::string input;    // the CSV file, as named on the command line
    std::string library;  // the library file the exports came from
    BarSeries series;
    Analysis analysis;
};

void write_report(std::FILE* out, const Run& run);

// One key per line; "library" and "seconds" are the only lines that may
// differ between two runs on the same input with the same settings.
void write_json(std::FILE* out, const Run& run);

// The chart: candlesticks, fractal marks, the merged levels as horizontal
// lines whose thickness shows their weight, the last close, dated and priced
// axes.
std::string render_svg(const Run& run);

// Writes content to a temporary file beside path and renames it over path,
// so that path is either absent, as it was, or complete.
bool write_file_atomically(const std::string& path, const std::string& content,
                           std::string& error);

// Shortest decimal text that reads back as the same double.
std::string exact(double value);

// Decimals that show prices at the scale of the bars' ranges.
int price_decimals(double mean_range);

// Calendar fields of seconds since 1970 (UTC).
struct Civil {
    int year, month, day, hour, minute, second;
};
Civil civil_from_seconds(int64_t seconds);

}  // namespace tidemark::scan

#endif
