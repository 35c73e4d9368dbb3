// Rows of a result's fields (analysis/result.h) as columns for the package,
// so that Python gets the names, order and values of the one definition of
// each result, and only chooses a dtype for each.
#ifndef TIDEMARK_PYTHON_FIELDS_H
#define TIDEMARK_PYTHON_FIELDS_H

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

#include "result.h"

namespace tidemark::python {

// Text that need not be UTF-8 (a name from a file) as a str, with
// replacement characters where it is not.
pybind11::object text(const std::string& s);

// A row's fields into d: null as None, a moment as seconds since 1970 under
// its "time" key, for the package to turn into a timestamp.
void add_fields(pybind11::dict& d, const std::vector<analysis::Field>& fields);

class FieldColumns {
public:
    FieldColumns() = default;
    // The keys of rows like this one, before any row is added (so that no
    // rows still give every column).
    explicit FieldColumns(const std::vector<analysis::Field>& model);
    // Adds a row; the first fixes the keys and their order, unless a model
    // did. Runs without the GIL.
    void add(const std::vector<analysis::Field>& row);
    // Adds a row of nulls (a series that failed).
    void add_null();
    std::size_t rows() const { return rows_; }
    // Room for rows more, so that a long walk's columns do not grow by doubling.
    void reserve(std::size_t rows);

    // {key: (values, null, kind)} in the rows' order of keys: values int64
    // for flags (0 or 1), integers and moments (seconds since 1970), float64
    // for numbers (0 where null), a list for texts (None where null); kind
    // "flag", "integer", "moment", "number" or "text", or "" with float64
    // zeros for a column whose every value is null. Needs the GIL.
    pybind11::dict to_python() const;

private:
    struct Column {
        std::string key;
        analysis::Value::Kind kind = analysis::Value::Kind::null;  // of its values, once one is not null
        std::size_t leading_nulls = 0;  // before the kind was known
        std::vector<int64_t> integers;
        std::vector<double> numbers;
        std::vector<std::string> texts;
        std::vector<uint8_t> null;
    };
    static void put(Column& column, const analysis::Value& value);
    std::vector<Column> columns_;
    std::size_t rows_ = 0;
};

}  // namespace tidemark::python

#endif
