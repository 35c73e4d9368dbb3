// Header -> columns: which field of a row holds the date, the prices and the
// volume, from a header's names or, without one, by position.
#ifndef TIDEMARK_READER_COLUMNS_H
#define TIDEMARK_READER_COLUMNS_H

#include <cstddef>
#include <string>

#include "fields.h"

namespace tidemark::reader {

struct Columns {
    bool header = false;
    long header_line = 0;
    std::size_t count = 0;  // fields per row when there is a header
    int stamp = -1;         // date, datetime or timestamp
    int time = -1;          // a separate time-of-day column
    int open = -1, high = -1, low = -1, close = -1, volume = -1;
};

// The first line of a file that is not blank or a comment: a header, which
// maps the columns by name (header set, nothing more to read on this line),
// or the first bar, which fixes them by position (date, open, high, low,
// close, optional volume). False with why set when it is neither or the
// header lacks a column.
bool columns_from_first_line(const Fields& fields, long line_no, Columns& columns, std::string& why);

}  // namespace tidemark::reader

#endif
