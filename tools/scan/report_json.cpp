// JSON through nlohmann::json, so that the output is valid whatever the
// numbers and names: a non-finite number becomes null, any text is escaped.
#include <cmath>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "format.h"
#include "report.h"

#ifndef TIDEMARK_VERSION
#define TIDEMARK_VERSION "unknown"
#endif

namespace tidemark::scan {
namespace {

using Json = nlohmann::ordered_json;

// Invalid UTF-8 (a name in a legacy encoding) is replaced, not fatal.
std::string dumped(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

// One key per line, and arrays of objects one element per line, so that a
// line filter (grep -v '"seconds"') can drop a key whole.
void print(std::FILE* out, const Json& object) {
    std::fputs("{", out);
    bool first = true;
    for (const auto& [key, value] : object.items()) {
        std::fprintf(out, "%s\n  %s: ", first ? "" : ",", dumped(key).c_str());
        first = false;
        if (value.is_array() && !value.empty() && value.front().is_object()) {
            std::fputs("[", out);
            for (std::size_t i = 0; i < value.size(); ++i)
                std::fprintf(out, "%s\n    %s", i == 0 ? "" : ",", dumped(value[i]).c_str());
            std::fputs("\n  ]", out);
        } else {
            std::fputs(dumped(value).c_str(), out);
        }
    }
    std::fputs("\n}\n", out);
}

Json number_or_null(bool present, double value) {
    return present && std::isfinite(value) ? Json(value) : Json(nullptr);
}

// The fields every screen row has, also the last close of a single run.
void add_close_fields(Json& j, const ScreenRow& r) {
    j["on_level"] = r.on_level;
    j["level"] = number_or_null(r.on_level, r.level);
    j["level_weight"] = r.on_level ? Json(r.level_weight) : Json(nullptr);
    j["below"] = number_or_null(r.has_below, r.below);
    j["above"] = number_or_null(r.has_above, r.above);
    j["distance"] = number_or_null(true, r.distance);
}

}  // namespace

void write_json(std::FILE* out, const Run& run) {
    const Analysis& a = run.analysis;
    const BarSeries& s = run.series;
    Json j;
    j["version"] = TIDEMARK_VERSION;
    j["input"] = run.input;
    j["bundled_sample"] = run.sample;
    j["library"] = run.library;
    j["bar_count"] = s.bars.size();
    j["bars_in_file"] = run.bars_in_file;
    j["file_order"] = s.newest_first ? "newest first" : "oldest first";
    j["intraday"] = s.intraday;
    j["first_date"] = time_text(s.bars.front().time, s.intraday);
    j["last_date"] = time_text(s.bars.back().time, s.intraday);
    j["fractal_depth"] = a.settings.depth;
    j["merge_mode"] = a.settings.mode;
    j["weight_span"] = a.settings.span;
    j["mean_bar_range"] = number_or_null(true, a.mean_range);
    j["tolerance"] = number_or_null(true, a.tolerance);
    j["tolerance_rule"] = a.tolerance_given ? "given" : exact(kToleranceShare) + " x mean_bar_range";
    j["up_fractals"] = a.up_count;
    j["down_fractals"] = a.down_count;
    j["candidates"] = a.fractals.size();
    j["fractal_counts"] = a.counts_exact ? "exact" : "nearest level";
    j["level_count"] = a.levels.size();
    // Highest price first, as the report lists them.
    const std::vector<std::size_t> listed = heaviest_levels(a, run.levels_listed);
    Json levels = Json::array();
    for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
        const Level& level = a.levels[*it];
        Json l;
        l["index"] = *it;
        l["price"] = number_or_null(true, level.price);
        l["merged_weight"] = level.merged_weight;
        l["resized_weight"] = level.weight;
        l["fractals"] = level.fractals;
        levels.push_back(l);
    }
    j["levels"] = levels;
    Json close;
    const ScreenRow row = screen_row(s, a);
    close["date"] = time_text(row.last_time, row.intraday);
    close["price"] = number_or_null(true, row.last_close);
    close["level_index"] = row.on_level ? Json(row.level_index) : Json(nullptr);
    add_close_fields(close, row);
    j["last_close"] = close;
    j["chart"] = run.chart.empty() ? Json(nullptr) : Json(run.chart);
    if (!run.chart_error.empty()) j["chart_error"] = run.chart_error;
    if (a.timed) {
        j["seconds"] = Json{{"total", a.seconds_total}, {"fractals", a.seconds_fractals}, {"merge", a.seconds_merge}};
    } else {
        j["seconds"] = nullptr;
    }
    print(out, j);
}

void write_screen_json(std::FILE* out, const std::vector<ScreenEntry>& entries) {
    std::fputs("[", out);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ScreenEntry& e = entries[i];
        Json j;
        j["file"] = e.file;
        if (!e.ok) {
            j["error"] = e.error.what;
            j["line"] = e.error.line > 0 ? Json(e.error.line) : Json(nullptr);
        } else {
            const ScreenRow& r = e.row;
            j["bars"] = r.bars;
            j["last_date"] = time_text(r.last_time, r.intraday);
            j["last_close"] = number_or_null(true, r.last_close);
            add_close_fields(j, r);
        }
        std::fprintf(out, "%s\n  %s", i == 0 ? "" : ",", dumped(j).c_str());
    }
    std::fputs(entries.empty() ? "]\n" : "\n]\n", out);
}

void write_error_json(std::FILE* out, const ReadError& error) {
    Json j;
    j["error"] = error.what;
    j["file"] = error.file.empty() ? Json(nullptr) : Json(error.file);
    j["line"] = error.line > 0 ? Json(error.line) : Json(nullptr);
    std::fprintf(out, "%s\n", dumped(j).c_str());
}

}  // namespace tidemark::scan
