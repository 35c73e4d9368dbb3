// Price bars from a CSV file, and their layout as the host's BarRecord array.
#ifndef TIDEMARK_SCAN_BARS_H
#define TIDEMARK_SCAN_BARS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tidemark::scan {

struct Bar {
    int64_t time;       // seconds since 1970-01-01 00:00 UTC (midnight for a date alone)
    std::string stamp;  // the date or date-time as written in the file
    double open, high, low, close;
    double volume;      // 0 when the file has no volume column
};

struct BarSeries {
    std::vector<Bar> bars;  // oldest first
    bool intraday = false;  // some bar has a time of day
};

// Called now and then with the stage under way and the share of it done,
// 0 ... 1.
using Progress = std::function<void(const char* stage, double done)>;

// Reads a CSV of bars: date or date-time, open, high, low, close, optional
// volume; an optional header line; oldest first. Dates are YYYY-MM-DD (or
// with / or . between the parts), optionally followed by a space or T and
// HH:MM or HH:MM:SS, read as UTC. Blank lines are skipped; fields may be
// quoted. On bad input returns false with error set to one line,
// "FILE:LINE: what is wrong" ("FILE: ..." when no line applies).
bool read_bars(const std::string& path, BarSeries& out, std::string& error,
               const Progress& progress = nullptr);

// Same, from text already in memory; name is used in messages only.
bool parse_bars(const std::string& name, const std::string& text, BarSeries& out,
                std::string& error, const Progress& progress = nullptr);

// Seconds since 1970 for a proleptic Gregorian UTC date and time.
int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second);

// The bars as a host lays them out: 44-byte packed BarRecords, index 0 the
// newest bar, so bar i of the series is record size - 1 - i.
std::vector<unsigned char> layout_records(const std::vector<Bar>& bars);

}  // namespace tidemark::scan

#endif
