// JSON through nlohmann::json, so that the output is valid whatever the
// numbers and names: a non-finite number becomes null, any text is escaped.
#include <cmath>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "format.h"
#include "report.h"
#include "result.h"

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

// A result's field as JSON: a moment as its date text.
Json value_of(const Value& v) {
    switch (v.kind) {
        case Value::Kind::null:
            return Json(nullptr);
        case Value::Kind::flag:
            return Json(v.flag);
        case Value::Kind::integer:
            return Json(v.integer);
        case Value::Kind::number:
            return Json(v.number);
        case Value::Kind::text:
            return Json(v.text);
        case Value::Kind::moment:
            return Json(time_text(v.integer, v.intraday));
    }
    return Json(nullptr);
}

void add(Json& j, const std::vector<Field>& fields) {
    for (const Field& f : fields) j[f.key] = value_of(f.value);
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
    add(j, run_fields(s, a, &run.bars_in_file));
    add(j, reading_fields(s));
    // Highest price first, as the report lists them.
    const std::vector<std::size_t> listed = heaviest_levels(a, run.levels_listed);
    Json levels = Json::array();
    for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
        Json l;
        add(l, level_fields(s, a, *it));
        levels.push_back(l);
    }
    j["levels"] = levels;
    Json close;
    add(close, last_close_fields(screen_row(s, a)));
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
        if (!e.symbol.empty()) j["symbol"] = e.symbol;
        if (!e.ok) {
            j["error"] = e.error.what;
            j["line"] = e.error.line > 0 ? Json(e.error.line) : Json(nullptr);
        } else {
            add(j, screen_row_fields(e.row));
        }
        std::fprintf(out, "%s\n  %s", i == 0 ? "" : ",", dumped(j).c_str());
    }
    std::fputs(entries.empty() ? "]\n" : "\n]\n", out);
}

std::string walk_start(bool json) {
    if (json) return "[";
    std::string header;
    for (const Field& f : walk_row_fields(ScreenRow{})) header += (header.empty() ? "" : ",") + std::string(f.key);
    return header + "\n";
}

void walk_row(std::string& out, const ScreenRow& row, bool json, bool first) {
    const std::vector<Field> fields = walk_row_fields(row);
    if (json) {
        Json j;
        add(j, fields);
        out += (first ? "\n  " : ",\n  ") + dumped(j);
        return;
    }
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        const Value& v = fields[i].value;
        switch (v.kind) {
            case Value::Kind::null: break;
            case Value::Kind::flag: line += v.flag ? "true" : "false"; break;
            case Value::Kind::integer: line += std::to_string(v.integer); break;
            case Value::Kind::number: line += dumped(Json(v.number)); break;  // the JSON's digits
            case Value::Kind::text: line += v.text; break;
            case Value::Kind::moment: line += time_text(v.integer, v.intraday); break;
        }
    }
    out += line + "\n";
}

std::string walk_end(bool json, bool empty) { return json ? (empty ? "]\n" : "\n]\n") : ""; }

void write_error_json(std::FILE* out, const ReadError& error) {
    Json j;
    j["error"] = error.what;
    j["file"] = error.file.empty() ? Json(nullptr) : Json(error.file);
    j["line"] = error.line > 0 ? Json(error.line) : Json(nullptr);
    std::fprintf(out, "%s\n", dumped(j).c_str());
}

}  // namespace tidemark::scan
