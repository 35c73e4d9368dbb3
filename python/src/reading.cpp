// A DataFrame read by the reader's own stages: its column names by the header
// stage, and its dates written as text (or numbers) by the date stage as one
// column, as a file's date column is read: one form and one day-month order
// for the whole column (settled by the first date that tells it, or by the
// dates option), local midnights keeping their written dates, every time
// within a bar record's range.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "columns.h"
#include "row.h"
#include "module.h"
#include "workflow.h"
#include <pybind11/stl.h>
#include "timestamp.h"

namespace py = pybind11;

namespace tidemark::python {
namespace {

// Returns (seconds since 1970 UTC as int64, whether any has a time of day,
// None) or (None, False, (row, message)) for the first row at fault.
py::tuple read_dates(const py::sequence& values, const std::string& order_text) {
    reader::DateOrder order = reader::DateOrder::automatic;
    if (!order_text.empty() && !reader::date_order_from_text(order_text, order))
        throw py::value_error("dates must be 'mdy', 'dmy', 'ymd', 'serial', 'ms', 'us' or 'ns', got '" + order_text + "'");
    const auto n = static_cast<py::ssize_t>(py::len(values));
    py::array_t<int64_t> seconds(n);
    int64_t* out = seconds.mutable_data();
    const auto fault = [](py::ssize_t row, const std::string& why) {
        return py::make_tuple(py::none(), false, py::make_tuple(row, why));
    };
    reader::DateReader dates(order, python_spelling());
    std::string why;
    for (py::ssize_t i = 0; i < n; ++i) {
        const py::object value = values[static_cast<std::size_t>(i)];
        py::ssize_t size = 0;
        const char* text = PyUnicode_Check(value.ptr()) ? PyUnicode_AsUTF8AndSize(value.ptr(), &size) : nullptr;
        if (text == nullptr) {
            PyErr_Clear();  // not text, or text that UTF-8 cannot hold: not a date either way
            return fault(i, reader::not_a_date(py::str(value).cast<std::string>()));
        }
        if (!dates.read(std::string_view(text, static_cast<std::size_t>(size)), static_cast<long>(i) + 1, out[i], why))
            return fault(i, why);
    }
    long line = 0;
    if (!dates.finish(line, why)) return fault(static_cast<py::ssize_t>(line) - 1, why);
    dates.corrections([&](std::size_t i, int64_t delta) { out[i] += delta; });
    bool has_time = false;
    for (py::ssize_t i = 0; i < n; ++i) {
        // Checked here, before anyone converts the seconds to a finer unit
        // that would overflow into another date.
        if (!reader::in_record_time(out[i])) {
            const py::object value = values[static_cast<std::size_t>(i)];
            return fault(i, reader::outside_text(py::str(value).cast<std::string>(), order, python_spelling()));
        }
        has_time = has_time || out[i] % 86400 != 0;
    }
    return py::make_tuple(seconds, has_time, py::none());
}

// The columns of a DataFrame by their names (str() of each), as the header
// stage maps a file's: {role: position} for the roles found, and the close's
// name when it is the table's only, adjusted, close. columns: the user's
// choices, as "date=Datum,close=Schluss". dates_elsewhere: the index may hold
// the dates. Raises ValueError with the stage's words.
py::dict frame_columns(const std::vector<std::string>& names, const std::string& columns, bool dates_elsewhere) {
    std::vector<reader::ColumnChoice> choices;
    std::string why;
    if (!columns.empty() && !reader::parse_column_choices(columns, choices, why, python_spelling()))
        throw py::value_error(why);
    reader::Columns found;
    if (!reader::columns_from_names(names, choices, dates_elsewhere, found, why, python_spelling()))
        throw py::value_error(why);
    py::dict r;
    const std::pair<const char*, int> roles[] = {{"date", found.stamp}, {"time", found.time},   {"open", found.open},
                                                 {"high", found.high},  {"low", found.low},     {"close", found.close},
                                                 {"volume", found.volume}, {"symbol", found.symbol}};
    for (const auto& [role, at] : roles)
        if (at >= 0) r[role] = at;
    r["close_column"] = found.close_name.empty() ? py::object(py::none()) : py::object(py::str(found.close_name));
    r["close_only"] = found.close_only;
    return r;
}

}  // namespace

void bind_reading(py::module_& m) {
    m.def("read_dates", &read_dates, py::arg("values"), py::arg("dates") = "");
    m.def("frame_columns", &frame_columns, py::arg("names"), py::arg("columns"), py::arg("dates_elsewhere"));
}

}  // namespace tidemark::python
