#include "fields.h"

#include <pybind11/numpy.h>

namespace py = pybind11;

namespace tidemark::python {

using Kind = analysis::Value::Kind;

py::object text(const std::string& s) {
    // A name from a file need not be UTF-8: shown with replacement
    // characters, never lost.
    const auto decoded = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(s.data(), static_cast<py::ssize_t>(s.size()), "replace"));
    if (!decoded) throw py::error_already_set();
    return decoded;
}

void add_fields(py::dict& d, const std::vector<analysis::Field>& fields) {
    for (const analysis::Field& f : fields) {
        const analysis::Value& v = f.value;
        switch (v.kind) {
            case Kind::null: d[f.key] = py::none(); break;
            case Kind::flag: d[f.key] = v.flag; break;
            case Kind::integer: d[f.key] = v.integer; break;
            case Kind::number: d[f.key] = v.number; break;
            case Kind::text: d[f.key] = text(v.text); break;
            case Kind::moment: d[py::str(analysis::moment_key(f.key))] = v.integer; break;
        }
    }
}

void FieldColumns::put(Column& c, const analysis::Value& v) {
    if (c.kind == Kind::null && v.kind != Kind::null) {
        // The first value tells the column's kind: the nulls before it get
        // their place in its storage.
        c.kind = v.kind;
        if (c.kind == Kind::number) c.numbers.assign(c.leading_nulls, 0.0);
        else if (c.kind == Kind::text) c.texts.assign(c.leading_nulls, std::string());
        else c.integers.assign(c.leading_nulls, 0);
    }
    c.null.push_back(v.kind == Kind::null ? 1 : 0);
    switch (c.kind) {
        case Kind::null: ++c.leading_nulls; break;
        case Kind::number: c.numbers.push_back(v.kind == Kind::number ? v.number : 0.0); break;
        case Kind::text: c.texts.push_back(v.kind == Kind::text ? v.text : std::string()); break;
        case Kind::flag: c.integers.push_back(v.kind == Kind::flag && v.flag ? 1 : 0); break;
        case Kind::integer:
        case Kind::moment: c.integers.push_back(v.kind == c.kind ? v.integer : 0); break;
    }
}

FieldColumns::FieldColumns(const std::vector<analysis::Field>& model) {
    for (const analysis::Field& f : model) {
        Column c;
        c.key = f.key;
        c.kind = f.value.kind;  // null until a value tells it
        columns_.push_back(std::move(c));
    }
}

void FieldColumns::add(const std::vector<analysis::Field>& row) {
    if (columns_.empty()) {
        for (const analysis::Field& f : row) {
            Column c;
            c.key = f.key;
            c.leading_nulls = rows_;
            c.null.assign(rows_, 1);
            columns_.push_back(std::move(c));
        }
    }
    for (std::size_t i = 0; i < columns_.size() && i < row.size(); ++i) put(columns_[i], row[i].value);
    ++rows_;
}

void FieldColumns::reserve(std::size_t rows) {
    for (Column& c : columns_) {
        c.null.reserve(c.null.size() + rows);
        if (c.kind == Kind::number) c.numbers.reserve(c.numbers.size() + rows);
        else if (c.kind != Kind::null && c.kind != Kind::text) c.integers.reserve(c.integers.size() + rows);
    }
}

void FieldColumns::add_null() {
    for (Column& c : columns_) put(c, analysis::Value{});
    ++rows_;
}

py::dict FieldColumns::to_python() const {
    py::dict out;
    for (const Column& c : columns_) {
        const auto n = static_cast<py::ssize_t>(c.null.size());
        py::array_t<bool> null(n);
        for (py::ssize_t i = 0; i < n; ++i) null.mutable_at(i) = c.null[static_cast<std::size_t>(i)] != 0;
        py::object values;
        const char* kind = "";
        if (c.kind == Kind::flag || c.kind == Kind::integer || c.kind == Kind::moment) {
            kind = c.kind == Kind::flag ? "flag" : c.kind == Kind::integer ? "integer" : "moment";
            values = py::array_t<int64_t>(n, c.integers.data());
        } else if (c.kind == Kind::text) {
            kind = "text";
            py::list texts;
            for (std::size_t i = 0; i < c.texts.size(); ++i)
                texts.append(c.null[i] ? py::object(py::none()) : text(c.texts[i]));
            values = texts;
        } else if (c.kind == Kind::number) {
            kind = "number";
            values = py::array_t<double>(n, c.numbers.data());
        } else {
            const std::vector<double> zeros(static_cast<std::size_t>(n), 0.0);
            values = py::array_t<double>(n, zeros.data());
        }
        out[py::str(c.key)] = py::make_tuple(values, null, kind);
    }
    return out;
}

}  // namespace tidemark::python
