// Text forms of numbers and times shared by the report, the screen, the JSON
// and the chart, so that all of them show a price or a date the same way
// (time_text and exact are the reader's, text.h).
#ifndef TIDEMARK_SCAN_FORMAT_H
#define TIDEMARK_SCAN_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <vector>

#include "bars.h"
#include "calendar.h"
#include "text.h"

namespace tidemark::scan {

// The command is built on the reader: its names are the command's too.
using namespace reader;

// printf's %.*f.
std::string fixed(double value, int decimals);

// How a series' prices are shown: with a fixed number of decimals when the
// bars' ranges are at least 1e-6 (so that 8 decimals resolve them), else with
// enough significant digits to tell apart prices a range apart.
struct PriceStyle {
    int decimals = 2;           // for %.*f
    bool significant = false;   // %.*g instead, to three digits below range_exponent
    int range_exponent = 0;     // floor(log10(mean range))
};
// data_decimals caps the decimals beyond two: prices written with two are
// shown with two (51.58, not 51.5800), whatever the ranges.
PriceStyle price_style(double mean_range, int data_decimals = 8);

// The decimals the bars' prices are written with, 0 to 8 (8 for any more),
// of the last `last` bars (a screen's row shows the end of a series: it
// need not look at every bar).
int data_decimals(const std::vector<Bar>& bars, std::size_t last = SIZE_MAX);
std::string price_text(double value, const PriceStyle& style);

// Decimals that show prices at the scale of the bars' ranges, at most 8.
int price_decimals(double mean_range);

// "1 level", "2 levels": a count and its noun, singular for one.
std::string counted(std::size_t n, const std::string& one, const std::string& many);

// "1.234 ms".
std::string milliseconds(double seconds);

// Terminal columns a UTF-8 text takes: one per character, two for the wide
// East Asian ones (株価.csv takes 8).
std::size_t display_width(const std::string& text);

// text padded with spaces to width columns, on the right (left-aligned) or
// on the left.
std::string padded(const std::string& text, std::size_t width, bool left_aligned);

}  // namespace tidemark::scan

#endif
