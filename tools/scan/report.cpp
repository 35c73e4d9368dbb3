#include "report.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "format.h"
#include "result.h"

namespace tidemark::scan {
namespace {

// The weight bars never grow wider than this: heavier weights are scaled.
constexpr int kBarWidth = 20;

const char* mode_text(int32_t mode) {
    switch (mode) {
        case 1: return "weights add";
        case 2: return "weights add, price is the weighted mean";
        default: return "the heavier level keeps its weight";
    }
}

std::string tolerance_text(const Analysis& a, const PriceStyle& style) {
    if (a.tolerance_given) return price_text(a.tolerance, style) + " (given)";
    return price_text(a.tolerance, style) + " (" + fixed(kToleranceShare, 1) + " x the mean bar range " +
           price_text(a.mean_range, style) + ")";
}

// Where the last close sits, in one sentence.
std::string close_text(const Run& run, const PriceStyle& style) {
    const Analysis& a = run.analysis;
    const BarSeries& s = run.series;
    const std::string close =
        "last close " + price_text(a.last_close, style) + " (" + time_text(s.bars.back().time, s.intraday) + ")";
    if (a.close_level >= 0) {
        const Level& level = a.levels[static_cast<std::size_t>(a.close_level)];
        return close + " is at level " + std::to_string(a.close_level) + ", " + price_text(level.price, style) +
               ": " + price_text(std::fabs(a.last_close - level.price), style) + " away, within " +
               price_text(a.tolerance, style);
    }
    const ScreenRow row = screen_row(run.series, a);
    std::string where = close + " is at no level within " + price_text(a.tolerance, style);
    if (row.has_below) where += "; nearest below " + price_text(row.below, style);
    if (row.has_above) where += "; nearest above " + price_text(row.above, style);
    return where;
}

std::string weight_bar(int32_t weight, int32_t heaviest) {
    if (weight <= 0) return std::string();
    int length = weight;
    if (heaviest > kBarWidth)
        length = std::max(1, static_cast<int>(std::lround(static_cast<double>(weight) * kBarWidth / heaviest)));
    return std::string(static_cast<std::size_t>(std::min(length, kBarWidth)), '#');
}

// A level's track record as the columns after its fractals: formed,
// touches, held, broke and since.
std::string track_columns(const BarSeries& s, const TrackRecord& r, int date_width) {
    char text[96];
    const int64_t since = bars_since_touch(r, s.bars.size());
    std::snprintf(text, sizeof text, "  %*s  %7d  %4d  %5d  %5s", date_width,
                  r.formed < 0 ? "-" : time_text(s.bars[static_cast<std::size_t>(r.formed)].time, s.intraday).c_str(),
                  r.touches, r.held, r.broke, since < 0 ? "-" : std::to_string(since).c_str());
    return std::string(text);
}

// What the columns of the levels' table mean.
void write_level_legend(std::FILE* out, const Analysis& a, bool track) {
    const int32_t span = a.settings.span;
    std::fprintf(out,
                 "  weight       the Hlop weight rescaled by Resize, span %d; Resize scales without shifting,\n"
                 "               so when the lightest level weighs more than 0 the heaviest can exceed\n"
                 "               span - 1 = %lld\n",
                 span, static_cast<long long>(span) - 1);
    std::fprintf(out, "  Hlop weight  the level's weight as Hlop wrote it back (%s)\n",
                 a.settings.mode == 0 ? "the heaviest merged fractal's strength"
                                      : "the sum of its fractals' strengths");
    std::fprintf(out, "  fractals     %s\n",
                 a.counts_exact ? "how many fractals were merged into the level"
                                : "how many fractals lie nearer this level than any other");
    if (track)
        std::fprintf(out,
                     "  formed       the bar that confirmed the level's first fractal (its bar + depth %d)\n"
                     "  touches      later bars whose range came within the tolerance of the level; held:\n"
                     "               came from one side and closed on it again; broke: closed through it by\n"
                     "               more than the tolerance; since: bars since the last touch\n",
                     a.settings.depth);
}

void write_levels(std::FILE* out, const Run& run, const PriceStyle& style) {
    const Analysis& a = run.analysis;
    const BarSeries& s = run.series;
    const std::vector<std::size_t> listed = heaviest_levels(a, run.levels_listed);
    int price_width = 8;
    int32_t heaviest = 0;
    for (std::size_t k : listed) {
        price_width = std::max(price_width, static_cast<int>(price_text(a.levels[k].price, style).size()) + 1);
        heaviest = std::max(heaviest, a.levels[k].weight);
    }
    // The track record's columns, when the analysis kept it.
    const bool track = a.records.size() == a.levels.size() && !a.levels.empty();
    const int date_width = static_cast<int>(time_text(s.bars.back().time, s.intraday).size());
    std::fprintf(out, "  %5s %*s  %-*s  %11s  %8s", "index", price_width, "price", kBarWidth + 7, "weight",
                 "Hlop weight", "fractals");
    if (track) std::fprintf(out, "  %*s  %7s  %4s  %5s  %5s", date_width, "formed", "touches", "held", "broke", "since");
    std::fputc('\n', out);
    const std::string close_row = "  -----> " + price_text(a.last_close, style) + "  last close, " +
                                  time_text(s.bars.back().time, s.intraday) + "\n";
    bool close_shown = a.close_level >= 0 &&
                       std::find(listed.begin(), listed.end(), static_cast<std::size_t>(a.close_level)) != listed.end();
    // Highest price first, as on a chart.
    for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
        const std::size_t k = *it;
        const Level& level = a.levels[k];
        if (!close_shown && level.price < a.last_close) {
            std::fputs(close_row.c_str(), out);
            close_shown = true;
        }
        std::fprintf(out, "  %5zu %*s  %6d %-*s  %11d  %8d%s%s\n", k, price_width,
                     price_text(level.price, style).c_str(), level.weight, kBarWidth,
                     weight_bar(level.weight, heaviest).c_str(), level.merged_weight, level.fractals,
                     track ? track_columns(s, a.records[k], date_width).c_str() : "",
                     static_cast<int32_t>(k) == a.close_level ? "   <- last close" : "");
    }
    if (!close_shown) std::fputs(close_row.c_str(), out);
    if (listed.size() < a.levels.size())
        std::fprintf(out, "  (the %s of %zu levels)\n",
                     listed.size() == 1 ? "heaviest" : (std::to_string(listed.size()) + " heaviest").c_str(),
                     a.levels.size());
    write_level_legend(out, a, track);
}

// Column widths that fit every row, in terminal columns.
struct Table {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::size_t> widths;
    void add(std::vector<std::string> row) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], display_width(row[i]));
        rows.push_back(std::move(row));
    }
};

}  // namespace

void write_report(std::FILE* out, const Run& run) {
    const Analysis& a = run.analysis;
    const BarSeries& s = run.series;
    const PriceStyle style = price_style(a.mean_range, data_decimals(s.bars));

    std::fprintf(out, "tidemark-scan: %s%s\n", run.input.c_str(), run.sample ? " (the bundled sample)" : "");
    const std::string kind = bar_period(s);
    std::fprintf(out, "  bars       %s, %s to %s (%s first in the file)\n",
                 counted(s.bars.size(), kind + " bar", kind + " bars").c_str(),
                 time_text(s.bars.front().time, s.intraday).c_str(), time_text(s.bars.back().time, s.intraday).c_str(),
                 s.newest_first ? "newest" : "oldest");
    if (run.windowed)
        std::fprintf(out, "             the window chosen; the file holds %s\n",
                     counted(run.bars_in_file, "bar", "bars").c_str());
    const std::string passed_over = reading_text(s);
    if (!passed_over.empty()) std::fprintf(out, "  read       %s\n", passed_over.c_str());
    std::fprintf(out, "  library    %s\n", run.library.c_str());
    std::fprintf(out, "  fractals   CheckUpFractal/CheckDownFractal, depth %d: %s and %s of strength 1 or more\n",
                 a.settings.depth, counted(static_cast<std::size_t>(a.up_count), "high", "highs").c_str(),
                 counted(static_cast<std::size_t>(a.down_count), "low", "lows").c_str());
    std::fprintf(out, "  tolerance  %s\n", tolerance_text(a, style).c_str());
    std::fprintf(out, "  merge      Hlop mode %d (%s): %s -> %s\n", a.settings.mode, mode_text(a.settings.mode),
                 counted(a.fractals.size(), "candidate", "candidates").c_str(),
                 counted(a.levels.size(), "level", "levels").c_str());
    std::fprintf(out, "  weights    Resize span %d\n", a.settings.span);
    std::fputc('\n', out);

    if (a.levels.empty()) {
        std::fprintf(out, "  no levels: no bar is a fractal of depth %d (%s on each side)\n", a.settings.depth,
                     counted(static_cast<std::size_t>(a.settings.depth), "bar", "bars").c_str());
    } else {
        write_levels(out, run, style);
    }
    std::fputc('\n', out);
    std::fprintf(out, "  CheckLevel %s\n", close_text(run, style).c_str());
    if (a.timed) {
        std::fprintf(out, "  time       %s for the whole run (stopwatch exports): fractals %s, Hlop %s\n",
                     milliseconds(a.seconds_total).c_str(), milliseconds(a.seconds_fractals).c_str(),
                     milliseconds(a.seconds_merge).c_str());
    } else {
        std::fprintf(out, "  time       not measured: the stopwatch could not be started\n");
    }
    if (!run.chart.empty() && run.chart_error.empty()) std::fprintf(out, "  chart      %s\n", run.chart.c_str());
    if (!run.chart_error.empty()) std::fprintf(out, "  chart      not written: %s\n", run.chart_error.c_str());
}

void write_screen(std::FILE* out, const std::vector<ScreenEntry>& entries, const Settings& settings) {
    std::size_t failed = 0;
    for (const ScreenEntry& e : entries) failed += e.ok ? 0 : 1;
    std::string tolerance = settings.tolerance >= 0 ? exact(settings.tolerance) + " (given)"
                                                    : fixed(kToleranceShare, 1) + " x each file's mean bar range";
    std::fprintf(out, "tidemark-scan: %zu %s%s, nearest to a level first (depth %d, mode %d, span %d, tolerance %s)\n",
                 entries.size(),
                 std::any_of(entries.begin(), entries.end(), [](const ScreenEntry& e) { return !e.symbol.empty(); })
                     ? "series"
                     : entries.size() == 1 ? "file" : "files",
                 failed > 0 ? (", " + std::to_string(failed) + " unreadable").c_str() : "",
                 settings.depth, settings.mode, settings.span, tolerance.c_str());
    Table table;
    table.add({"file", "bars", "last date", "last close", "on", "level", "weight", "below", "above", "distance"});
    std::vector<std::string> errors(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ScreenEntry& e = entries[i];
        if (!e.ok) {
            table.add({e.label()});
            errors[i] = e.error.text();
            continue;
        }
        const ScreenRow& r = e.row;
        const PriceStyle style = price_style(e.mean_range, e.data_decimals);
        table.add({e.label(), std::to_string(r.bars), time_text(r.last_time, r.intraday), price_text(r.last_close, style),
                   r.on_level ? "yes" : "no", r.on_level ? price_text(r.level, style) : "-",
                   r.on_level ? std::to_string(r.level_weight) : "-", r.has_below ? price_text(r.below, style) : "-",
                   r.has_above ? price_text(r.above, style) : "-",
                   std::isfinite(r.distance) ? fixed(r.distance, 2) : "-"});
    }
    // Text columns to the left, numbers to the right.
    const bool left[] = {true, false, true, false, true, false, false, false, false, false};
    for (std::size_t i = 0; i < table.rows.size(); ++i) {
        const std::vector<std::string>& row = table.rows[i];
        std::string line = " ";
        if (i > 0 && !errors[i - 1].empty()) {
            line += " " + padded(row[0], table.widths[0], true) + "  error: " + errors[i - 1];
        } else {
            for (std::size_t c = 0; c < row.size(); ++c) line += " " + padded(row[c], table.widths[c], left[c]) + " ";
            line.erase(line.find_last_not_of(' ') + 1);
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
    std::fprintf(out,
                 "  (on: CheckLevel finds the last close within the tolerance of a level, and level is that\n"
                 "  level, weight its weight after Resize; below, above: the nearest levels; distance: from\n"
                 "  the last close to the nearest level, in tolerances)\n");
}

}  // namespace tidemark::scan
