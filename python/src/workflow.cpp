// levels() and screen(): the reader's analysis (the one tidemark-scan runs),
// on bars that come from numpy arrays or from a CSV file read by the same
// reader, with the exports compiled into this module. So the levels are the
// ones the command finds, bit for bit.
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analysis.h"
#include "bars.h"
#include "checks.h"
#include "exports.h"
#include "fields.h"
#include "module.h"
#include "result.h"
#include "screen_row.h"
#include "timestamp.h"
#include "tidemark.h"
#include "walk.h"
#include "workflow.h"

namespace py = pybind11;

namespace tidemark::python {

const analysis::Exports& exports() {
    static const analysis::Exports lib = [] {
        analysis::Exports e;
#define TIDEMARK_BIND_EXPORT(name, member) e.member = &::name;
        TIDEMARK_EXPORT_TABLE(TIDEMARK_BIND_EXPORT)
#undef TIDEMARK_BIND_EXPORT
        return e;
    }();
    return lib;
}

analysis::Settings settings_of(long long depth, const py::object& tolerance, long long mode, long long span) {
    analysis::Settings s;
    if (depth < 1 || depth > 100000)
        throw py::value_error("depth must be a whole number from 1 to 100000, got " +
                              std::to_string(depth));
    if (mode < 0 || mode > 2) throw py::value_error("mode must be 0, 1 or 2, got " + std::to_string(mode));
    if (span < 1 || span > INT32_MAX)
        throw py::value_error("span must be a whole number from 1 to 2147483647, got " +
                              std::to_string(span));
    s.depth = static_cast<int32_t>(depth);
    s.mode = static_cast<int32_t>(mode);
    s.span = static_cast<int32_t>(span);
    if (!tolerance.is_none()) {
        // pybind11 would take True for 1.0: a flag given where a distance was meant.
        if (py::isinstance<py::bool_>(tolerance)) throw py::type_error("tolerance must be a real number, got bool");
        const double t = tolerance.cast<double>();
        if (!std::isfinite(t) || t < 0)
            throw py::value_error("tolerance must be a finite price distance, 0 or more, got " +
                                  py::repr(tolerance).cast<std::string>());
        s.tolerance = t;
    }
    return s;
}

namespace {

// The run under the names of the command's JSON (its fields are built in one
// place, result.h), with the levels' fields as columns in ascending price and
// the dates as seconds since 1970.
py::dict result_of(const analysis::Analysis& a, const reader::BarSeries& series, std::size_t bars_in_file) {
    FieldColumns levels;
    for (std::size_t k = 0; k < a.levels.size(); ++k) levels.add(analysis::level_fields(series, a, k));
    py::dict close;
    add_fields(close, analysis::last_close_fields(analysis::screen_row(series, a)));
    py::dict r;
    add_fields(r, analysis::run_fields(series, a, &bars_in_file));
    add_fields(r, analysis::reading_fields(series));
    r["levels"] = levels.to_python();
    r["last_close"] = close;
    return r;
}

}  // namespace

const reader::OptionSpelling& python_spelling() {
    static const reader::OptionSpelling spelling = [] {
        reader::OptionSpelling s;
        s.dates = "dates";
        s.columns = "columns";
        s.symbol = "symbol";
        s.from = "start";
        s.to = "end";
        s.keywords = true;
        return s;
    }();
    return spelling;
}

Reading reading_of(const py::object& dates, const py::object& columns, const py::object& symbol,
                   const py::object& start, const py::object& end) {
    Reading r;
    r.read.spelling = python_spelling();
    if (!dates.is_none() && !reader::date_order_from_text(dates.cast<std::string>(), r.read.dates))
        throw py::value_error("dates must be 'mdy', 'dmy', 'ymd', 'serial', 'ms', 'us' or 'ns', got " +
                              py::repr(dates).cast<std::string>());
    std::string why;
    if (!columns.is_none() &&
        !reader::parse_column_choices(columns.cast<std::string>(), r.read.columns, why, python_spelling()))
        throw py::value_error(why);
    if (!symbol.is_none()) {
        r.read.symbol = symbol.cast<std::string>();
        if (r.read.symbol.empty()) throw py::value_error("symbol must name the symbol to read, got ''");
    }
    const std::string from = start.is_none() ? std::string() : start.cast<std::string>();
    const std::string to = end.is_none() ? std::string() : end.cast<std::string>();
    if (!analysis::window_bounds(start.is_none() ? nullptr : &from, end.is_none() ? nullptr : &to, r.read.dates,
                                 r.window, why, "start", "end", python_spelling()))
        throw py::value_error(why);
    return r;
}

bool read_cut(const std::string& path, const Reading& reading, reader::BarSeries& series, std::size_t& bars_in_file,
              std::string& error) {
    if (!reader::read_bars(path, series, error, nullptr, reading.read)) return false;
    bars_in_file = series.bars.size();
    return cut(series, reading.window, path, error);
}

bool cut(reader::BarSeries& series, const analysis::Window& window, const std::string& file, std::string& error) {
    const std::size_t in_file = series.bars.size();
    if (in_file == 0 || apply_window(series, window)) return true;  // no bars: the analysis says so
    error = reader::ReadError{file, 0, "none of its " + std::to_string(in_file) + " bars is in the window"}.text();
    return false;
}

void raise_text(PyObject* type, const std::string& message) {
    PyErr_SetObject(type, text(message).ptr());
    throw py::error_already_set();
}

void check_size(const reader::BarSeries& series) {
    if (series.bars.empty()) throw py::value_error("no bars");
    if (series.bars.size() > static_cast<std::size_t>(INT32_MAX))
        throw py::value_error("more bars than a BarRecord index can address (2147483647)");
}

reader::BarSeries series_of(const reader::ArrayBars& b, bool newest_first) {
    reader::BarSeries series;
    series.bars.reserve(b.size);
    for (std::size_t j = 0; j < b.size; ++j) {
        const std::size_t i = newest_first ? b.size - 1 - j : j;
        series.bars.push_back({b.time ? b.time[i] : 0, b.open[i], b.high[i], b.low[i], b.close[i], b.volume[i]});
    }
    series.newest_first = newest_first;
    series.intraday = reader::intraday(reader::times_of(series.bars));
    return series;
}

namespace {

analysis::Analysis run(const reader::BarSeries& series, const analysis::Settings& settings) {
    check_size(series);
    return analysis::analyse(exports(), series, settings);
}

}  // namespace

reader::ArrayBars price_columns(const char* function, const py::array& reference, const char* reference_name,
                                const py::array& open, const py::array& high, const py::array& low,
                                const py::array& close, const py::array& volume) {
    const py::array* columns[] = {&open, &high, &low, &close, &volume};
    const char* names[] = {"open", "high", "low", "close", "volume"};
    for (int c = 0; c < 5; ++c) {
        require_vector(*columns[c], function, names[c], 'f', 8, "float64", false);
        if (columns[c]->shape(0) != reference.shape(0))
            throw py::value_error(std::string(function) + ": " + names[c] + " and " + reference_name +
                                  " differ in length");
    }
    reader::ArrayBars bars;
    bars.size = static_cast<std::size_t>(reference.shape(0));
    bars.open = static_cast<const double*>(open.data());
    bars.high = static_cast<const double*>(high.data());
    bars.low = static_cast<const double*>(low.data());
    bars.close = static_cast<const double*>(close.data());
    bars.volume = static_cast<const double*>(volume.data());
    return bars;
}

reader::ArrayBars dated_columns(const char* function, const py::array& time, const py::array& open,
                                const py::array& high, const py::array& low, const py::array& close,
                                const py::array& volume) {
    require_vector(time, function, "time", 'i', 8, "int64", false);
    reader::ArrayBars bars = price_columns(function, time, "time", open, high, low, close, volume);
    bars.time = static_cast<const int64_t*>(time.data());
    return bars;
}

namespace {

// Bars from arrays that the Python layer has checked and put oldest first.
py::dict analyse_arrays(const py::array& time, const py::array& open, const py::array& high,
                        const py::array& low, const py::array& close, const py::array& volume,
                        long long depth, const py::object& tolerance, long long mode, long long span,
                        bool count_fractals, const py::object& start, const py::object& end) {
    analysis::Settings settings = settings_of(depth, tolerance, mode, span);
    const Reading reading = reading_of(py::none(), py::none(), py::none(), start, end);
    settings.count_fractals = count_fractals;
    const reader::ArrayBars b = dated_columns("levels", time, open, high, low, close, volume);
    reader::BarSeries series;
    analysis::Analysis a;
    std::size_t in_frame = 0;
    without_gil("", [&](std::string& error) {
        series = series_of(b);
        in_frame = series.bars.size();
        if (!cut(series, reading.window, "", error)) return false;
        a = run(series, settings);
        return true;
    });
    return result_of(a, series, in_frame);
}

// The reader's checks of a file's bars, on a DataFrame's arrays, so that both
// say the same of the same bars: None, or (row, message) for the first row at
// fault; and whether the times run newest first and have times of day. time
// None: the bars have no dates, and no order to check.
py::dict check_bars(const py::object& time, const py::array& open, const py::array& high, const py::array& low,
                    const py::array& close, const py::array& volume) {
    reader::ArrayBars bars = price_columns("check_bars", open, "open", open, high, low, close, volume);
    py::array times;
    if (!time.is_none()) {
        times = time.cast<py::array>();
        require_vector(times, "check_bars", "time", 'i', 8, "int64", false);
        if (times.shape(0) != open.shape(0)) throw py::value_error("check_bars: time and open differ in length");
        bars.time = static_cast<const int64_t*>(times.data());
    }
    reader::ArrayCheck check;
    {
        py::gil_scoped_release unlocked;
        check = reader::check_arrays(bars);
    }
    py::dict r;
    r["fault"] = check.ok ? py::object(py::none()) : py::object(py::make_tuple(check.row, check.what));
    r["newest_first"] = check.newest_first;
    r["intraday"] = check.intraday;
    return r;
}

// Bars from a CSV file, read by tidemark-scan's reader.
py::dict analyse_file(const std::string& path, long long depth, const py::object& tolerance,
                      long long mode, long long span, bool count_fractals, const py::object& dates,
                      const py::object& columns, const py::object& symbol, const py::object& start,
                      const py::object& end) {
    analysis::Settings settings = settings_of(depth, tolerance, mode, span);
    settings.count_fractals = count_fractals;
    const Reading reading = reading_of(dates, columns, symbol, start, end);
    reader::BarSeries series;
    analysis::Analysis a;
    std::size_t in_file = 0;
    without_gil(path, [&](std::string& error) {
        if (!read_cut(path, reading, series, in_file, error)) return false;
        a = run(series, settings);
        return true;
    });
    return result_of(a, series, in_file);
}

// The bars of a CSV file as the command reads them, oldest first.
py::dict read_bars(const std::string& path, const py::object& dates, const py::object& columns,
                   const py::object& symbol, const py::object& start, const py::object& end) {
    const Reading reading = reading_of(dates, columns, symbol, start, end);
    reader::BarSeries series;
    std::size_t in_file = 0;
    without_gil(path, [&](std::string& error) { return read_cut(path, reading, series, in_file, error); });
    const auto n = static_cast<py::ssize_t>(series.bars.size());
    py::array_t<int64_t> time(n);
    py::array_t<double> open(n), high(n), low(n), close(n), volume(n);
    for (py::ssize_t i = 0; i < n; ++i) {
        const reader::Bar& bar = series.bars[static_cast<std::size_t>(i)];
        time.mutable_at(i) = bar.time;
        open.mutable_at(i) = bar.open;
        high.mutable_at(i) = bar.high;
        low.mutable_at(i) = bar.low;
        close.mutable_at(i) = bar.close;
        volume.mutable_at(i) = bar.volume;
    }
    py::dict r;
    r["time"] = time;
    r["open"] = open;
    r["high"] = high;
    r["low"] = low;
    r["close"] = close;
    r["volume"] = volume;
    r["intraday"] = series.intraday;
    r["newest_first"] = series.newest_first;
    r["bars_in_file"] = in_file;
    add_fields(r, analysis::reading_fields(series));
    return r;
}

// The row a screen gives of a series cut to its window: the screen's own
// (the last close against the levels of all its bars), or with walk_window
// 0 or more the walk's row at its last bar (which by definition is the
// one-shot analysis of the bars in view there); then what the reader passed
// over, with the bars before the cut.
std::vector<analysis::Field> screen_fields(const reader::BarSeries& series, const analysis::Settings& settings,
                                           long long walk_window, std::size_t bars_in_file) {
    std::vector<analysis::Field> fields;
    if (walk_window < 0) {
        fields = analysis::screen_row_fields(analysis::screen_row(series, run(series, settings)));
    } else {
        check_size(series);
        fields = analysis::walk_row_fields(analysis::walk_row_by_analysis(
            exports(), series, settings, static_cast<std::size_t>(walk_window), series.bars.size() - 1));
    }
    analysis::Value in_file;
    in_file.kind = analysis::Value::Kind::integer;
    in_file.integer = static_cast<int64_t>(bars_in_file);
    fields.push_back({"bars_in_file", in_file});
    for (analysis::Field& f : analysis::reading_fields(series)) fields.push_back(std::move(f));
    return fields;
}

// A screen's row of one series, or why it has none.
struct ScreenDone {
    std::vector<analysis::Field> fields;
    bool ok = false, memory = false;
    std::string fault;
};

// Runs work(fault), which gives the row of one series of a screen without the
// GIL, or returns false with fault set: a series beyond the analysis' limits
// or too large for memory is a fault of its own (named by file, if any), not
// the end of the screen.
template <typename Work>
void screen_one(const std::string& file, ScreenDone& d, Work&& work) {
    try {
        d.ok = work(d.fault);
    } catch (const std::bad_alloc&) {
        d.memory = true;
    } catch (const std::length_error&) {
        d.memory = true;
    } catch (const py::error_already_set&) {
        throw;
    } catch (const std::exception& e) {  // the analysis' limits
        d.fault = reader::ReadError{file, 0, e.what()}.text();
    }
    if (d.memory) d.fault = reader::ReadError{file, 0, reader::kNoMemory}.text();
}

// The rows as columns, keyed as the command's JSON keys a screen row; a
// series without one, a row of nulls.
template <typename Done>
py::dict screen_columns(const std::vector<Done>& done) {
    FieldColumns rows;
    for (const ScreenDone& d : done) {
        if (d.ok) rows.add(d.fields);
        else rows.add_null();
    }
    return rows.to_python();
}

// The screen's rows of CSV files read by tidemark-scan's reader (see
// screen_fields), one call for a batch, without the GIL. A name that is None
// (the package found it cannot be opened) gets a row of nulls; a file that
// cannot be read or analysed, a row of nulls and in "fault" (whether memory
// ran out, the reader's words).
py::dict screen_files(const py::list& paths, long long depth, const py::object& tolerance,
                      long long mode, long long span, long long walk_window, const py::object& dates,
                      const py::object& columns, const py::object& symbol, const py::object& start,
                      const py::object& end) {
    analysis::Settings settings = settings_of(depth, tolerance, mode, span);
    settings.count_fractals = false;
    const Reading reading = reading_of(dates, columns, symbol, start, end);
    const std::size_t count = py::len(paths);
    std::vector<std::string> names(count);
    std::vector<bool> given(count);
    for (std::size_t k = 0; k < count; ++k) {
        given[k] = !paths[k].is_none();
        if (given[k]) names[k] = paths[k].cast<std::string>();
    }
    std::vector<ScreenDone> done(count);
    {
        py::gil_scoped_release unlocked;
        for (std::size_t k = 0; k < count; ++k) {
            if (!given[k]) continue;
            screen_one(names[k], done[k], [&](std::string& fault) {
                reader::BarSeries series;
                std::size_t in_file = 0;
                if (!read_cut(names[k], reading, series, in_file, fault)) return false;
                done[k].fields = screen_fields(series, settings, walk_window, in_file);
                return true;
            });
        }
    }
    py::list faults;
    for (const ScreenDone& d : done)
        faults.append(d.ok || d.fault.empty() ? py::object(py::none()) : py::object(py::make_tuple(d.memory, text(d.fault))));
    py::dict r;
    r["fields"] = screen_columns(done);
    r["fault"] = faults;
    return r;
}

// Many series in one set of arrays, series k being rows offsets[k] to
// offsets[k + 1] - 1 (dated[k]: it has times), each checked by the reader's
// rules, put oldest first and analysed: one screen row per series, with the
// reader's fields of what it passed over. A series at fault has a null row and
// (row within the series, message) in "fault"; one too large for memory,
// (-1, the reader's words). So a screen of many symbols is one call, without
// the GIL, however many symbols a batch holds.
py::dict screen_series(const py::array& offsets, const py::array& time, const py::array& dated,
                       const py::array& open, const py::array& high, const py::array& low, const py::array& close,
                       const py::array& volume, long long depth, const py::object& tolerance, long long mode,
                       long long span, long long walk_window, const py::object& start, const py::object& end) {
    analysis::Settings settings = settings_of(depth, tolerance, mode, span);
    settings.count_fractals = false;
    const Reading reading = reading_of(py::none(), py::none(), py::none(), start, end);
    require_vector(offsets, "screen_series", "offsets", 'i', 8, "int64", false);
    require_vector(dated, "screen_series", "dated", 'b', 1, "bool", false);
    const reader::ArrayBars all = dated_columns("screen_series", time, open, high, low, close, volume);
    const auto* first = static_cast<const int64_t*>(offsets.data());
    const auto* has_time = static_cast<const bool*>(dated.data());
    const std::size_t count = offsets.shape(0) > 0 ? static_cast<std::size_t>(offsets.shape(0) - 1) : 0;
    if (static_cast<std::size_t>(dated.shape(0)) != count)
        throw py::value_error("screen_series: dated must hold one flag per series");
    for (std::size_t k = 0; k < count; ++k)
        if (first[k] < 0 || first[k] > first[k + 1] || static_cast<std::size_t>(first[k + 1]) > all.size)
            throw py::value_error("screen_series: offsets must rise from 0 to the length of the columns");

    struct Done : ScreenDone {
        bool newest_first = false;
        long long fault_row = -1;
    };
    std::vector<Done> done(count);
    {
        py::gil_scoped_release unlocked;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t begin = static_cast<std::size_t>(first[k]), size = static_cast<std::size_t>(first[k + 1]) - begin;
            const reader::ArrayBars b{size, has_time[k] ? all.time + begin : nullptr, all.open + begin,
                                      all.high + begin, all.low + begin, all.close + begin, all.volume + begin};
            Done& d = done[k];
            screen_one("", d, [&](std::string& fault) {
                const reader::ArrayCheck check = reader::check_arrays(b);
                if (!check.ok) {
                    d.fault_row = static_cast<long long>(check.row);
                    fault = check.what;
                    return false;
                }
                reader::BarSeries series = series_of(b, check.newest_first);
                if (!cut(series, reading.window, "", fault)) return false;
                d.fields = screen_fields(series, settings, walk_window, size);
                d.newest_first = check.newest_first;
                return true;
            });
        }
    }
    py::dict r;
    r["fields"] = screen_columns(done);
    py::list faults;
    py::array_t<bool> newest(static_cast<py::ssize_t>(count));
    for (std::size_t k = 0; k < count; ++k) {
        const Done& d = done[k];
        faults.append(d.ok ? py::object(py::none()) : py::object(py::make_tuple(d.fault_row, d.fault)));
        newest.mutable_at(static_cast<py::ssize_t>(k)) = d.newest_first;
    }
    r["fault"] = faults;
    r["newest_first"] = newest;
    return r;
}

}  // namespace

void bind_workflow(py::module_& m) {
    m.def("analyse_arrays", &analyse_arrays, py::arg("time").noconvert(), py::arg("open").noconvert(),
          py::arg("high").noconvert(), py::arg("low").noconvert(), py::arg("close").noconvert(),
          py::arg("volume").noconvert(), py::arg("depth"), py::arg("tolerance").none(true),
          py::arg("mode"), py::arg("span"), py::arg("count_fractals"), py::arg("start").none(true) = py::none(),
          py::arg("end").none(true) = py::none());
    m.def("analyse_file", &analyse_file, py::arg("path"), py::arg("depth"),
          py::arg("tolerance").none(true), py::arg("mode"), py::arg("span"), py::arg("count_fractals"),
          py::arg("dates").none(true) = py::none(), py::arg("columns").none(true) = py::none(),
          py::arg("symbol").none(true) = py::none(), py::arg("start").none(true) = py::none(),
          py::arg("end").none(true) = py::none());
    m.def("read_bars", &read_bars, py::arg("path"), py::arg("dates").none(true) = py::none(),
          py::arg("columns").none(true) = py::none(), py::arg("symbol").none(true) = py::none(),
          py::arg("start").none(true) = py::none(), py::arg("end").none(true) = py::none());
    m.def("screen_series", &screen_series, py::arg("offsets").noconvert(), py::arg("time").noconvert(),
          py::arg("dated").noconvert(), py::arg("open").noconvert(), py::arg("high").noconvert(),
          py::arg("low").noconvert(), py::arg("close").noconvert(), py::arg("volume").noconvert(),
          py::arg("depth"), py::arg("tolerance").none(true), py::arg("mode"), py::arg("span"),
          py::arg("walk_window") = -1, py::arg("start").none(true) = py::none(),
          py::arg("end").none(true) = py::none());
    m.def("screen_files", &screen_files, py::arg("paths"), py::arg("depth"), py::arg("tolerance").none(true),
          py::arg("mode"), py::arg("span"), py::arg("walk_window") = -1, py::arg("dates").none(true) = py::none(),
          py::arg("columns").none(true) = py::none(), py::arg("symbol").none(true) = py::none(),
          py::arg("start").none(true) = py::none(), py::arg("end").none(true) = py::none());
    m.def("check_settings", [](long long depth, const py::object& tolerance, long long mode, long long span) {
        settings_of(depth, tolerance, mode, span);
    }, py::arg("depth"), py::arg("tolerance").none(true), py::arg("mode"), py::arg("span"));
    m.def("check_reading", [](const py::object& dates, const py::object& columns, const py::object& symbol,
                              const py::object& start, const py::object& end) {
        reading_of(dates, columns, symbol, start, end);
    }, py::arg("dates").none(true), py::arg("columns").none(true), py::arg("symbol").none(true),
          py::arg("start").none(true), py::arg("end").none(true));
    m.attr("NO_MEMORY") = reader::kNoMemory;
    m.def("check_bars", &check_bars, py::arg("time").none(true), py::arg("open").noconvert(),
          py::arg("high").noconvert(), py::arg("low").noconvert(), py::arg("close").noconvert(),
          py::arg("volume").noconvert());
}

}  // namespace tidemark::python
