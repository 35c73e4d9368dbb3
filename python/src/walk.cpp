// walk_arrays() and walk_file(): the walk of one series (analysis/walk.h),
// for tidemark.walk. Every row is the analysis' own, named by walk_row_fields,
// so Python gets the columns of tidemark-scan --walk.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fields.h"
#include "module.h"
#include "bars.h"
#include "result.h"
#include "walk.h"
#include "workflow.h"

namespace py = pybind11;

namespace tidemark::python {
namespace {

struct Walked {
    reader::BarSeries series;    // the bars walked, oldest first, cut to the window
    std::size_t bars_in_file = 0;
    std::size_t offset = 0;      // the place of the first of them among the bars given
    std::size_t first_bar = 0;   // the first with a level; series.bars.size() when none has
    FieldColumns rows{analysis::walk_row_fields(analysis::ScreenRow{})};  // from first_bar on
};

std::size_t window_of(long long window) {
    if (window < 0) throw py::value_error("window must be 1 or more bars, or None for all bars up to each");
    return static_cast<std::size_t>(window);
}

// Cuts the series to the dates asked for and walks it (without the GIL).
bool walk_into(Walked& w, const Reading& reading, const analysis::Settings& settings, std::size_t window,
               const std::string& file, std::string& error) {
    w.bars_in_file = w.series.bars.size();
    std::vector<int64_t> times;
    times.reserve(w.series.bars.size());
    for (const reader::Bar& bar : w.series.bars) times.push_back(bar.time);
    if (!cut(w.series, reading.window, file, error)) return false;
    check_size(w.series);
    // The cut keeps bars in a row, and their times rise.
    w.offset = static_cast<std::size_t>(
        std::lower_bound(times.begin(), times.end(), w.series.bars.front().time) - times.begin());
    w.first_bar = w.series.bars.size();
    w.rows.reserve(w.series.bars.size());
    analysis::walk(exports(), w.series, settings, window, [&](std::size_t bar, const analysis::ScreenRow& row) {
        if (w.rows.rows() == 0) w.first_bar = bar;
        w.rows.add(analysis::walk_row_fields(row));
    });
    return true;
}

py::dict result_of(const Walked& w) {
    const auto n = static_cast<py::ssize_t>(w.series.bars.size());
    py::array_t<int64_t> time(n);
    py::array_t<double> close(n);
    for (py::ssize_t i = 0; i < n; ++i) {
        time.mutable_at(i) = w.series.bars[static_cast<std::size_t>(i)].time;
        close.mutable_at(i) = w.series.bars[static_cast<std::size_t>(i)].close;
    }
    py::dict r;
    r["time"] = time;
    r["close"] = close;
    r["offset"] = w.offset;
    r["first_bar"] = w.first_bar;
    r["rows"] = w.rows.to_python();
    r["intraday"] = w.series.intraday;
    r["bars_in_file"] = w.bars_in_file;
    add_fields(r, analysis::reading_fields(w.series));
    return r;
}

// Bars from arrays that the Python layer has checked and put oldest first.
py::dict walk_arrays(const py::array& time, const py::array& open, const py::array& high, const py::array& low,
                     const py::array& close, const py::array& volume, long long depth, const py::object& tolerance,
                     long long mode, long long span, long long window, const py::object& start,
                     const py::object& end) {
    const analysis::Settings settings = settings_of(depth, tolerance, mode, span);
    const std::size_t bars_in_view = window_of(window);
    const Reading reading = reading_of(py::none(), py::none(), py::none(), start, end);
    const reader::ArrayBars b = dated_columns("walk", time, open, high, low, close, volume);
    Walked w;
    without_gil("", [&](std::string& error) {
        w.series = series_of(b);
        return walk_into(w, reading, settings, bars_in_view, "", error);
    });
    return result_of(w);
}

// Bars from a CSV file, read by tidemark-scan's reader.
py::dict walk_file(const std::string& path, long long depth, const py::object& tolerance, long long mode,
                   long long span, long long window, const py::object& dates, const py::object& columns,
                   const py::object& symbol, const py::object& start, const py::object& end) {
    const analysis::Settings settings = settings_of(depth, tolerance, mode, span);
    const std::size_t bars_in_view = window_of(window);
    const Reading reading = reading_of(dates, columns, symbol, start, end);
    Walked w;
    without_gil(path, [&](std::string& error) {
        if (!reader::read_bars(path, w.series, error, nullptr, reading.read)) return false;
        return walk_into(w, reading, settings, bars_in_view, path, error);
    });
    return result_of(w);
}

}  // namespace

void bind_walk(py::module_& m) {
    m.def("walk_arrays", &walk_arrays, py::arg("time").noconvert(), py::arg("open").noconvert(),
          py::arg("high").noconvert(), py::arg("low").noconvert(), py::arg("close").noconvert(),
          py::arg("volume").noconvert(), py::arg("depth"), py::arg("tolerance").none(true), py::arg("mode"),
          py::arg("span"), py::arg("window"), py::arg("start").none(true) = py::none(),
          py::arg("end").none(true) = py::none());
    m.def("walk_file", &walk_file, py::arg("path"), py::arg("depth"), py::arg("tolerance").none(true),
          py::arg("mode"), py::arg("span"), py::arg("window"), py::arg("dates").none(true) = py::none(),
          py::arg("columns").none(true) = py::none(), py::arg("symbol").none(true) = py::none(),
          py::arg("start").none(true) = py::none(), py::arg("end").none(true) = py::none());
}

}  // namespace tidemark::python
