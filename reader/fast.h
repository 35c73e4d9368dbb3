// Rows of the common shape, read many at a time straight from a chunk of
// text: a file's columns settled by its first lines, then line after line of
// a date written YYYY-MM-DD (with HH:MM or HH:MM:SS), plain decimal numbers
// and no quotes or blanks. Each such line gives the bar the stages would
// give (the same date and number rules, the same bar checks); any other line
// is left to the stages, untouched, so that the file is read as before.
#ifndef TIDEMARK_READER_FAST_H
#define TIDEMARK_READER_FAST_H

#include <vector>

#include "bars.h"
#include "columns.h"
#include "timestamp.h"

namespace tidemark::reader {

class FastRows {
public:
    // The rows of a file of these columns and separator, whose decimal mark
    // is settled (comma: ";" files). False when they are of a shape read by
    // the stages alone (a symbol, a time column, closes alone, a table).
    bool set(const Columns& columns, char separator, bool decimal_comma);

    // One line at p (its end before end): true when it is of the common shape
    // through and through, with bar set, the date taken by dates and p past
    // the line's end. Else false with nothing changed.
    bool row(const char*& p, const char* end, DateReader& dates, Bar& bar) const;

private:
    // What each field holds: a value of the bar, the date, or nothing read.
    enum : signed char { kDateField = -1, kOtherField = -2 };
    std::vector<signed char> fields_;
    bool volume_optional_ = false;  // by position: date, open, high, low, close and perhaps a volume
    char separator_ = ',';
    char comma_ = '.';  // the decimal comma's character, "." when there is none
};

}  // namespace tidemark::reader

#endif
