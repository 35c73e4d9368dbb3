// Text forms of numbers and times shared by the report, the screen, the JSON
// and the chart, so that all of them show a price or a date the same way.
#ifndef TIDEMARK_SCAN_FORMAT_H
#define TIDEMARK_SCAN_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace tidemark::scan {

// printf's %.*f.
std::string fixed(double value, int decimals);

// Shortest decimal text that reads back as the same double.
std::string exact(double value);

// How a series' prices are shown: with a fixed number of decimals when the
// bars' ranges are at least 1e-6 (so that 8 decimals resolve them), else with
// enough significant digits to tell apart prices a range apart.
struct PriceStyle {
    int decimals = 2;           // for %.*f
    bool significant = false;   // %.*g instead, to three digits below range_exponent
    int range_exponent = 0;     // floor(log10(mean range))
};
PriceStyle price_style(double mean_range);
std::string price_text(double value, const PriceStyle& style);

// Decimals that show prices at the scale of the bars' ranges, at most 8.
int price_decimals(double mean_range);

// Calendar fields of seconds since 1970 (UTC), proleptic Gregorian.
struct Civil {
    int year, month, day, hour, minute, second;
};
Civil civil_from_seconds(int64_t seconds);

// Seconds since 1970 for a proleptic Gregorian UTC date and time.
int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second);

bool leap_year(int year);
int days_in_month(int year, int month);

// A bar's time as the reports show it: "2020-01-02" for a daily series,
// "2020-01-02 13:45" (":SS" added when the seconds are not 0) for an
// intraday one. Always UTC.
std::string time_text(int64_t seconds, bool intraday);

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
