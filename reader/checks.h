// The checks a file's bars pass, for bars a front end already holds in
// arrays (a DataFrame's columns): each row's time and values in row order,
// then the order of the times, with the reader's own messages word for word.
// A value is shown as exact() gives it, where a file's message quotes its
// field as written.
#ifndef TIDEMARK_READER_CHECKS_H
#define TIDEMARK_READER_CHECKS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace tidemark::reader {

struct ArrayBars {
    std::size_t size = 0;
    const int64_t* time = nullptr;  // seconds since 1970; null: the bars have no times
    const double* open = nullptr;
    const double* high = nullptr;
    const double* low = nullptr;
    const double* close = nullptr;
    const double* volume = nullptr;  // null: no volumes (0)
};

struct ArrayCheck {
    bool ok = true;
    std::size_t row = 0;  // when not ok: the row at fault, 0-based
    std::string what;     // when not ok
    bool newest_first = false;
    bool intraday = false;
};

ArrayCheck check_arrays(const ArrayBars& bars);

}  // namespace tidemark::reader

#endif
