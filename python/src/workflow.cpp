// levels() and screen(): the reader's analysis (the one tidemark-scan runs),
// on bars that come from numpy arrays or from a CSV file read by the same
// reader, with the exports compiled into this module. So the levels are the
// ones the command finds, bit for bit.
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "analysis.h"
#include "bars.h"
#include "checks.h"
#include "exports.h"
#include "module.h"
#include "result.h"
#include "screen_row.h"
#include "timestamp.h"
#include "tidemark.h"

namespace py = pybind11;

namespace tidemark::python {
namespace {

// The exports compiled into this module, in the one table of exports.
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

// The command's own limits for its options.
analysis::Settings settings_of(long long depth, const py::object& tolerance, long long mode,
                           long long span) {
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

// A result's field as Python: null as None, a moment as seconds since 1970
// under its "time" key, for the package to turn into a timestamp.
void add(py::dict& d, const std::vector<analysis::Field>& fields) {
    for (const analysis::Field& f : fields) {
        const analysis::Value& v = f.value;
        switch (v.kind) {
            case analysis::Value::Kind::null:
                d[f.key] = py::none();
                break;
            case analysis::Value::Kind::flag:
                d[f.key] = v.flag;
                break;
            case analysis::Value::Kind::integer:
                d[f.key] = v.integer;
                break;
            case analysis::Value::Kind::number:
                d[f.key] = v.number;
                break;
            case analysis::Value::Kind::text:
                d[f.key] = v.text;
                break;
            case analysis::Value::Kind::moment:
                d[py::str(analysis::moment_key(f.key))] = v.integer;
                break;
        }
    }
}

// The run under the names of the command's JSON (its fields are built in one
// place, result.h), with the levels as arrays in ascending price (index = the
// level's index) and the dates as seconds since 1970.
py::dict result_of(const analysis::Analysis& a, const reader::BarSeries& series, std::size_t bars_in_file) {
    const std::size_t n = a.levels.size();
    py::array_t<double> price(static_cast<py::ssize_t>(n));
    py::array_t<int32_t> merged(static_cast<py::ssize_t>(n)), weight(static_cast<py::ssize_t>(n)),
        fractals(static_cast<py::ssize_t>(n));
    for (std::size_t k = 0; k < n; ++k) {
        const auto i = static_cast<py::ssize_t>(k);
        price.mutable_at(i) = a.levels[k].price;
        merged.mutable_at(i) = a.levels[k].merged_weight;
        weight.mutable_at(i) = a.levels[k].weight;
        fractals.mutable_at(i) = a.levels[k].fractals;
    }
    py::dict levels;
    levels["price"] = price;
    levels["merged_weight"] = merged;
    levels["resized_weight"] = weight;
    levels["fractals"] = fractals;

    py::dict close;
    add(close, analysis::last_close_fields(analysis::screen_row(series, a)));
    py::dict r;
    add(r, analysis::run_fields(series, a, &bars_in_file));
    add(r, analysis::reading_fields(series));
    r["levels"] = levels;
    r["last_close"] = close;
    return r;
}

// What a caller tells the reader, and the window of bars to analyse, from
// the package's keywords (None: not given), checked as the command checks
// its options and named as Python spells them.
struct Reading {
    reader::ReadOptions read;
    analysis::Window window;
};

Reading reading_of(const py::object& dates, const py::object& columns, const py::object& symbol,
                   const py::object& start, const py::object& end) {
    Reading r;
    if (!dates.is_none() && !reader::date_order_from_text(dates.cast<std::string>(), r.read.dates))
        throw py::value_error("dates must be 'mdy', 'dmy', 'ymd' or 'serial', got " +
                              py::repr(dates).cast<std::string>());
    std::string why;
    if (!columns.is_none() && !reader::parse_column_choices(columns.cast<std::string>(), r.read.columns, why))
        throw py::value_error(why);
    if (!symbol.is_none()) {
        r.read.symbol = symbol.cast<std::string>();
        if (r.read.symbol.empty()) throw py::value_error("symbol must name the symbol to read, got ''");
    }
    const std::string from = start.is_none() ? std::string() : start.cast<std::string>();
    const std::string to = end.is_none() ? std::string() : end.cast<std::string>();
    if (!analysis::window_bounds(start.is_none() ? nullptr : &from, end.is_none() ? nullptr : &to, r.read.dates,
                                 r.window, why, "start", "end"))
        throw py::value_error(why);
    return r;
}

// Cuts a series read whole to the window: an error naming the file (or
// none), as the command's.
bool cut(reader::BarSeries& series, const analysis::Window& window, const std::string& file, std::string& error) {
    const std::size_t in_file = series.bars.size();
    if (in_file == 0 || apply_window(series, window)) return true;  // no bars: the analysis says so
    error = reader::ReadError{file, 0, "none of its " + std::to_string(in_file) + " bars is in the window"}.text();
    return false;
}

// Raises type with text that may hold bytes that are not UTF-8 (a file name,
// a field of a file): shown with replacement characters, never lost.
[[noreturn]] void raise_text(PyObject* type, const std::string& text) {
    const auto message = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()), "replace"));
    if (!message) throw py::error_already_set();
    PyErr_SetObject(type, message.ptr());
    throw py::error_already_set();
}

// Runs work, which reads or analyses bars without the GIL and returns false
// with error set on a bad input. Bars too many for memory are an input that
// cannot be used, as the command tells it, not the end of the caller's screen.
template <typename Work>
void without_gil(const std::string& file, Work&& work) {
    std::string error;
    bool done = false, memory = false;
    {
        py::gil_scoped_release unlocked;
        try {
            done = work(error);
        } catch (const std::bad_alloc&) {
            memory = true;
        } catch (const std::length_error&) {  // more than a 32-bit string or vector can hold
            memory = true;
        }
    }
    if (memory)
        raise_text(PyExc_MemoryError, file.empty() ? std::string(reader::kNoMemory)
                                                   : reader::ReadError{file, 0, reader::kNoMemory}.text());
    if (!done) raise_text(PyExc_ValueError, error);
}

analysis::Analysis run(const reader::BarSeries& series, const analysis::Settings& settings) {
    if (series.bars.empty()) throw py::value_error("no bars");
    if (series.bars.size() > static_cast<std::size_t>(INT32_MAX))
        throw py::value_error("more bars than a BarRecord index can address (2147483647)");
    return analysis::analyse(exports(), series, settings);
}

// The five price columns of a function's bars, each checked to be a float64
// vector as long as reference (named so in the message; checked first when it
// is one of them), as the reader's arrays, without times.
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

// Bars from arrays that the Python layer has checked and put oldest first.
py::dict analyse_arrays(const py::array& time, const py::array& open, const py::array& high,
                        const py::array& low, const py::array& close, const py::array& volume,
                        long long depth, const py::object& tolerance, long long mode, long long span,
                        bool count_fractals, const py::object& start, const py::object& end) {
    analysis::Settings settings = settings_of(depth, tolerance, mode, span);
    const Reading reading = reading_of(py::none(), py::none(), py::none(), start, end);
    settings.count_fractals = count_fractals;
    require_vector(time, "levels", "time", 'i', 8, "int64", false);
    const reader::ArrayBars b = price_columns("levels", time, "time", open, high, low, close, volume);
    const auto* t = static_cast<const int64_t*>(time.data());
    reader::BarSeries series;
    analysis::Analysis a;
    std::size_t in_frame = 0;
    without_gil("", [&](std::string& error) {
        series.bars.reserve(b.size);
        for (std::size_t i = 0; i < b.size; ++i)
            series.bars.push_back({t[i], b.open[i], b.high[i], b.low[i], b.close[i], b.volume[i]});
        series.intraday = reader::intraday(reader::times_of(series.bars));
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
        if (!reader::read_bars(path, series, error, nullptr, reading.read)) return false;
        in_file = series.bars.size();
        if (!cut(series, reading.window, path, error)) return false;
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
    without_gil(path, [&](std::string& error) {
        if (!reader::read_bars(path, series, error, nullptr, reading.read)) return false;
        in_file = series.bars.size();
        return cut(series, reading.window, path, error);
    });
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
    add(r, analysis::reading_fields(series));
    return r;
}

// Dates written as text (a DataFrame's index or column of strings), read by
// the reader's own rules into seconds since 1970 (UTC). Returns the seconds
// and the position of the first value that is not a date (-1 when all are).
py::tuple parse_timestamps(const py::sequence& values) {
    const auto n = static_cast<py::ssize_t>(py::len(values));
    py::array_t<int64_t> seconds(n);
    int64_t* out = seconds.mutable_data();
    py::ssize_t bad = -1;
    for (py::ssize_t i = 0; i < n && bad < 0; ++i) {
        const py::object value = values[static_cast<std::size_t>(i)];
        py::ssize_t size = 0;
        const char* text = PyUnicode_Check(value.ptr()) ? PyUnicode_AsUTF8AndSize(value.ptr(), &size) : nullptr;
        bool has_time = false;
        if (text == nullptr) {
            PyErr_Clear();  // not text, or text that UTF-8 cannot hold: not a date either way
            bad = i;
        } else if (!reader::parse_timestamp(std::string_view(text, static_cast<std::size_t>(size)), out[i],
                                          has_time)) {
            bad = i;
        }
    }
    return py::make_tuple(seconds, bad);
}

// A column of a many-series result: numbers (a moment's seconds, a flag as
// 0 or 1) with a mask of the nulls, or texts.
struct Column {
    std::vector<double> values;
    std::vector<uint8_t> null;
    py::list texts;
    bool is_text = false;
};

void put(Column& c, const analysis::Value& v) {
    using Kind = analysis::Value::Kind;
    if (v.kind == Kind::text || c.is_text) {
        c.is_text = true;
        c.texts.append(v.kind == Kind::null ? py::object(py::none()) : py::object(py::str(v.text)));
        return;
    }
    c.null.push_back(v.kind == Kind::null ? 1 : 0);
    c.values.push_back(v.kind == Kind::number    ? v.number
                       : v.kind == Kind::flag    ? (v.flag ? 1.0 : 0.0)
                       : v.kind == Kind::null    ? 0.0
                                                 : static_cast<double>(v.integer));
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
                       long long span, const py::object& start, const py::object& end) {
    analysis::Settings settings = settings_of(depth, tolerance, mode, span);
    settings.count_fractals = false;
    const Reading reading = reading_of(py::none(), py::none(), py::none(), start, end);
    require_vector(offsets, "screen_series", "offsets", 'i', 8, "int64", false);
    require_vector(dated, "screen_series", "dated", 'b', 1, "bool", false);
    require_vector(time, "screen_series", "time", 'i', 8, "int64", false);
    const reader::ArrayBars all = price_columns("screen_series", time, "time", open, high, low, close, volume);
    const auto* first = static_cast<const int64_t*>(offsets.data());
    const auto* has_time = static_cast<const bool*>(dated.data());
    const auto* t = static_cast<const int64_t*>(time.data());
    const std::size_t count = offsets.shape(0) > 0 ? static_cast<std::size_t>(offsets.shape(0) - 1) : 0;
    if (static_cast<std::size_t>(dated.shape(0)) != count)
        throw py::value_error("screen_series: dated must hold one flag per series");
    for (std::size_t k = 0; k < count; ++k)
        if (first[k] < 0 || first[k] > first[k + 1] || static_cast<std::size_t>(first[k + 1]) > all.size)
            throw py::value_error("screen_series: offsets must rise from 0 to the length of the columns");

    struct Done {
        std::vector<analysis::Field> fields;
        bool ok = false, newest_first = false;
        long long fault_row = -1;
        std::string fault;
    };
    std::vector<Done> done(count);
    {
        py::gil_scoped_release unlocked;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t begin = static_cast<std::size_t>(first[k]), size = static_cast<std::size_t>(first[k + 1]) - begin;
            reader::ArrayBars b{size, has_time[k] ? t + begin : nullptr, all.open + begin, all.high + begin,
                                all.low + begin, all.close + begin, all.volume + begin};
            Done& d = done[k];
            try {
                const reader::ArrayCheck check = reader::check_arrays(b);
                if (!check.ok) {
                    d.fault_row = static_cast<long long>(check.row);
                    d.fault = check.what;
                    continue;
                }
                reader::BarSeries series;
                series.bars.reserve(size);
                for (std::size_t j = 0; j < size; ++j) {
                    const std::size_t i = check.newest_first ? size - 1 - j : j;
                    series.bars.push_back({b.time ? b.time[i] : 0, b.open[i], b.high[i], b.low[i], b.close[i],
                                           b.volume[i]});
                }
                series.newest_first = check.newest_first;
                series.intraday = check.intraday;
                if (!cut(series, reading.window, "", d.fault)) continue;
                const analysis::Analysis a = run(series, settings);
                d.fields = analysis::screen_row_fields(analysis::screen_row(series, a));
                analysis::Value in_frame;
                in_frame.kind = analysis::Value::Kind::integer;
                in_frame.integer = static_cast<int64_t>(size);
                d.fields.push_back({"bars_in_file", in_frame});
                for (analysis::Field& f : analysis::reading_fields(series)) d.fields.push_back(std::move(f));
                d.ok = true;
                d.newest_first = check.newest_first;
            } catch (const std::bad_alloc&) {
                d.fault = reader::kNoMemory;
            } catch (const std::length_error&) {
                d.fault = reader::kNoMemory;
            } catch (const py::error_already_set&) {
                throw;
            } catch (const std::exception& e) {  // run()'s limits
                d.fault = e.what();
            }
        }
    }
    // The columns, keyed as the command's JSON keys a screen row.
    std::vector<std::string> keys;
    std::vector<Column> columns;
    const Done* model = nullptr;
    for (const Done& d : done)
        if (d.ok) {
            model = &d;
            break;
        }
    if (model != nullptr) {
        for (const analysis::Field& f : model->fields) {
            keys.push_back(f.value.kind == analysis::Value::Kind::moment ? analysis::moment_key(f.key) : f.key);
            columns.emplace_back();
        }
        for (const Done& d : done)
            for (std::size_t c = 0; c < columns.size(); ++c) put(columns[c], d.ok ? d.fields[c].value : analysis::Value{});
    }
    py::dict r;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        Column& col = columns[c];
        if (col.is_text) {
            r[py::str(keys[c])] = col.texts;
            continue;
        }
        py::array_t<double> values(static_cast<py::ssize_t>(col.values.size()), col.values.data());
        py::array_t<bool> null(static_cast<py::ssize_t>(col.null.size()));
        for (std::size_t i = 0; i < col.null.size(); ++i) null.mutable_at(static_cast<py::ssize_t>(i)) = col.null[i] != 0;
        r[py::str(keys[c])] = py::make_tuple(values, null);
    }
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
          py::arg("start").none(true) = py::none(), py::arg("end").none(true) = py::none());
    m.def("check_settings", [](long long depth, const py::object& tolerance, long long mode, long long span) {
        settings_of(depth, tolerance, mode, span);
    }, py::arg("depth"), py::arg("tolerance").none(true), py::arg("mode"), py::arg("span"));
    m.def("parse_timestamps", &parse_timestamps, py::arg("values"));
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
