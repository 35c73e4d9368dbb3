#include "result.h"

#include <cmath>

#include "text.h"

namespace tidemark::analysis {
namespace {

Value null_value() { return Value{}; }

Value flag(bool b) {
    Value v;
    v.kind = Value::Kind::flag;
    v.flag = b;
    return v;
}

Value integer(int64_t i) {
    Value v;
    v.kind = Value::Kind::integer;
    v.integer = i;
    return v;
}

Value number(double d) {
    if (!std::isfinite(d)) return null_value();
    Value v;
    v.kind = Value::Kind::number;
    v.number = d;
    return v;
}

Value text(std::string s) {
    Value v;
    v.kind = Value::Kind::text;
    v.text = std::move(s);
    return v;
}

Value moment(int64_t seconds, bool intraday) {
    Value v;
    v.kind = Value::Kind::moment;
    v.integer = seconds;
    v.intraday = intraday;
    return v;
}

// The fields every screen row has, also the last close of a single run.
void add_close_fields(std::vector<Field>& f, const ScreenRow& r) {
    f.push_back({"on_level", flag(r.on_level)});
    f.push_back({"level", r.on_level ? number(r.level) : null_value()});
    f.push_back({"level_weight", r.on_level ? integer(r.level_weight) : null_value()});
    f.push_back({"below", r.has_below ? number(r.below) : null_value()});
    f.push_back({"above", r.has_above ? number(r.above) : null_value()});
    f.push_back({"distance", number(r.distance)});
}

int64_t count(std::size_t n) { return static_cast<int64_t>(n); }

}  // namespace

std::string moment_key(const char* key) {
    std::string k = key;
    if (k.size() >= 4 && k.compare(k.size() - 4, 4, "date") == 0) k.replace(k.size() - 4, 4, "time");
    return k;
}

std::vector<Field> run_fields(const BarSeries& s, const Analysis& a, const std::size_t* bars_in_file) {
    std::vector<Field> f;
    f.push_back({"bar_count", integer(count(s.bars.size()))});
    if (bars_in_file != nullptr) f.push_back({"bars_in_file", integer(count(*bars_in_file))});
    f.push_back({"file_order", text(s.newest_first ? "newest first" : "oldest first")});
    f.push_back({"intraday", flag(s.intraday)});
    f.push_back({"first_date", moment(s.bars.front().time, s.intraday)});
    f.push_back({"last_date", moment(s.bars.back().time, s.intraday)});
    f.push_back({"fractal_depth", integer(a.settings.depth)});
    f.push_back({"merge_mode", integer(a.settings.mode)});
    f.push_back({"weight_span", integer(a.settings.span)});
    f.push_back({"mean_bar_range", number(a.mean_range)});
    f.push_back({"tolerance", number(a.tolerance)});
    f.push_back({"tolerance_rule", text(a.tolerance_given ? "given" : reader::exact(kToleranceShare) + " x mean_bar_range")});
    f.push_back({"up_fractals", integer(a.up_count)});
    f.push_back({"down_fractals", integer(a.down_count)});
    f.push_back({"candidates", integer(count(a.fractals.size()))});
    f.push_back({"fractal_counts", text(a.counts_exact ? "exact" : "nearest level")});
    f.push_back({"level_count", integer(count(a.levels.size()))});
    return f;
}

std::vector<Field> reading_fields(const BarSeries& s) {
    return {{"duplicates_dropped", integer(count(s.duplicates_dropped))},
            {"null_rows_skipped", integer(count(s.placeholder_rows))},
            {"unknown_volumes", integer(count(s.unknown_volumes))},
            {"other_symbol_rows", integer(count(s.other_symbol_rows))},
            {"name_rows_skipped", integer(count(s.name_rows_skipped))},
            {"notes_skipped", integer(count(s.notes_skipped))},
            {"close_column", s.close_column.empty() ? Value{} : text(s.close_column)},
            {"close_only", flag(s.close_only)},
            {"bar_period", text(bar_period(s))}};
}

const char* bar_period(const BarSeries& s) { return s.intraday ? "intraday" : reader::period_name(s.period); }

std::string reading_text(const BarSeries& s) {
    std::string out;
    const auto add = [&](std::size_t n, const char* one, const char* many) {
        if (n == 0) return;
        out += (out.empty() ? "" : ", ") + std::to_string(n) + (n == 1 ? one : many);
    };
    add(s.duplicates_dropped, " bar repeated exactly dropped", " bars repeated exactly dropped");
    add(s.placeholder_rows, " null row skipped", " null rows skipped");
    add(s.unknown_volumes, " volume unknown (read as 0)", " volumes unknown (read as 0)");
    add(s.other_symbol_rows, " row of another symbol skipped", " rows of other symbols skipped");
    add(s.name_rows_skipped, " row of names under the header skipped", " rows of names under the header skipped");
    add(s.notes_skipped, " line that is no bar skipped (a note)", " lines that are no bars skipped (notes)");
    const std::string column = "\"" + s.close_column + "\"";
    if (s.close_only)
        out += (out.empty() ? "" : "; ") + std::string("closes alone") +
               (s.close_column.empty() ? "" : ", column " + column) + ": each bar's open, high and low are its close";
    else if (!s.close_column.empty())
        out += (out.empty() ? "" : "; ") + std::string("the close is column ") + column + ", the file's only close";
    return out;
}

std::vector<Field> level_fields(const BarSeries& s, const Analysis& a, std::size_t index) {
    const Level& level = a.levels[index];
    std::vector<Field> f = {{"index", integer(count(index))},
                            {"price", number(level.price)},
                            {"merged_weight", integer(level.merged_weight)},
                            {"resized_weight", integer(level.weight)},
                            {"fractals", integer(level.fractals)}};
    if (index >= a.records.size()) return f;
    const TrackRecord& r = a.records[index];
    const auto bar_moment = [&](int64_t bar) {
        return bar < 0 ? null_value() : moment(s.bars[static_cast<std::size_t>(bar)].time, s.intraday);
    };
    f.push_back({"formed_date", bar_moment(r.formed)});
    f.push_back({"last_fractal_date", bar_moment(r.last_fractal)});
    f.push_back({"touches", integer(r.touches)});
    f.push_back({"held", integer(r.held)});
    f.push_back({"broke", integer(r.broke)});
    const int64_t since = bars_since_touch(r, s.bars.size());
    f.push_back({"bars_since_touch", since < 0 ? null_value() : integer(since)});
    return f;
}

std::vector<Field> last_close_fields(const ScreenRow& r) {
    std::vector<Field> f;
    f.push_back({"date", moment(r.last_time, r.intraday)});
    f.push_back({"price", number(r.last_close)});
    f.push_back({"level_index", r.on_level ? integer(r.level_index) : null_value()});
    add_close_fields(f, r);
    return f;
}

std::vector<Field> screen_row_fields(const ScreenRow& r) {
    std::vector<Field> f;
    f.push_back({"bars", integer(count(r.bars))});
    f.push_back({"last_date", moment(r.last_time, r.intraday)});
    f.push_back({"last_close", number(r.last_close)});
    add_close_fields(f, r);
    return f;
}

std::vector<Field> walk_row_fields(const ScreenRow& r) {
    std::vector<Field> f;
    f.push_back({"date", moment(r.last_time, r.intraday)});
    f.push_back({"close", number(r.last_close)});
    f.push_back({"bars", integer(count(r.bars))});
    f.push_back({"tolerance", number(r.tolerance)});
    f.push_back({"level_count", integer(count(r.level_count))});
    f.push_back({"on_level", flag(r.on_level)});
    f.push_back({"level", r.on_level ? number(r.level) : null_value()});
    f.push_back({"level_weight", r.on_level ? integer(r.level_weight) : null_value()});
    f.push_back({"below", r.has_below ? number(r.below) : null_value()});
    f.push_back({"below_weight", r.has_below ? integer(r.below_weight) : null_value()});
    f.push_back({"above", r.has_above ? number(r.above) : null_value()});
    f.push_back({"above_weight", r.has_above ? integer(r.above_weight) : null_value()});
    f.push_back({"distance_price", number(r.distance_price)});
    f.push_back({"distance", number(r.distance)});
    return f;
}

}  // namespace tidemark::analysis
