// Header -> columns: which field of a row holds the date, the prices and the
// volume, from a header's names or, without one, by position. Names count
// as exports write them: case, spaces, punctuation, units in brackets and
// markers do not matter ("Close (USD)", "<CLOSE>", "Close*" are all the
// close), and a few other words stand for a column ("Price", "Close/Last",
// "Vol."). A user names the rest with --columns.
#ifndef TIDEMARK_READER_COLUMNS_H
#define TIDEMARK_READER_COLUMNS_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "fields.h"
#include "options.h"

namespace tidemark::reader {

enum class Role : unsigned char { other, date, time, datetime, open, high, low, close, volume, symbol };
constexpr int kRoles = static_cast<int>(Role::symbol) + 1;

// "date", "open" and so on, as --columns takes them.
const char* role_name(Role role);

// What a header field names, and how strongly: of two columns for one role
// the lower rank is taken ("Close" before "Adj Close", "Volume" before
// "<TICKVOL>"); two of the same rank are one column named twice.
struct ColumnName {
    Role role = Role::other;
    int rank = 0;
};
ColumnName column_name(std::string_view field);

// The close's weakest name: a file whose only close is adjusted is read, and
// the report says so.
constexpr int kAdjustedCloseRank = 4;

// Columns the user names: "date=Datum,open=Eröffnung,..." or by position,
// "date=1,open=2,...". A name matches a header field as column_key() writes
// both; else the one field whose word it is, units aside.
struct ColumnChoice {
    Role role;
    std::string name;
};
// A name as the user's names are matched: letters and digits in lower case
// (Latin-1 letters too), nothing else; a name that is not UTF-8 read as
// Windows-1252 first, so that "Eröffnung" typed matches it in either.
std::string column_key(std::string_view name);
// The column of fields a user's name stands for: false when none, or when
// only units tell two apart.
bool find_column(const Fields& fields, std::string_view name, std::size_t& index);
bool parse_column_choices(std::string_view text, std::vector<ColumnChoice>& out, std::string& why,
                          const OptionSpelling& spelling = command_spelling());
bool same_column_name(std::string_view field, std::string_view name);
// How to name the columns of a file without a header, by position.
std::string positions_example(const OptionSpelling& spelling);

struct Columns {
    bool header = false;
    long header_line = 0;   // the header's line, or the first bar's when the columns are by position
    std::size_t count = 0;  // fields per row: the header's, or the first bar's by position; 0: 5 or 6
    int stamp = -1;         // date, datetime or timestamp
    int time = -1;          // a separate time-of-day column
    int open = -1, high = -1, low = -1, close = -1, volume = -1;
    int symbol = -1;           // a symbol or ticker column, which must not change
    std::string stamp_name;    // the date column's name, to know the header when it comes again
    std::string symbol_name;
    std::string close_name;    // set when the close is the file's only one, but not named close
    bool close_only = false;   // no open, high or low: each bar's prices are its close
    // A table of closes, a symbol per column, none chosen: those columns,
    // and what to say if the first row shows it is no table of numbers.
    std::vector<int> table;
    std::vector<std::string> table_names;
    std::string table_refusal;
    bool symbol_is_column = false;  // the symbol chosen is the close's column of a table
};

// What the user said of the columns, and how the messages spell it.
struct ColumnRequest {
    const std::vector<ColumnChoice>& choices;
    std::string_view symbol;
    const OptionSpelling& spelling;
    bool decimal_comma;  // for telling numbers in a first line without a header
};

// What the first line of a file that is not blank or a comment is.
enum class FirstLine {
    header,  // maps the columns by name: nothing more to read on this line
    // fixes them by position: date, open, high, low, close and an optional
    // volume; or, with more fields, the same and others after them, or a
    // date, a time of day (10:30) and the rest; or as the user's positions say
    bar,
    unnamed, // names no column and is no bar: a title line, or an error (why set)
    fault,   // a header that lacks a column or names one twice (why set)
};
FirstLine columns_from_first_line(const Fields& fields, long line_no, const ColumnRequest& request,
                                  Columns& columns, std::string& why);

// The columns of a table whose names come already apart (a DataFrame's),
// mapped as a file's header is: the user's choices first, the stronger of
// two names for one role, the same words for the same faults. With
// dates_elsewhere a table without a date column is fine (its dates are in
// its index): stamp is then -1. Positions are into names.
bool columns_from_names(const std::vector<std::string>& names, const std::vector<ColumnChoice>& choices,
                        bool dates_elsewhere, Columns& columns, std::string& why,
                        const OptionSpelling& spelling = command_spelling());

// A header's date field again, later in the file: two downloads pasted
// together. A date that starts with a digit is no header: most rows are
// told so without comparing names.
bool same_header(const Fields& fields, const Columns& columns);
inline bool repeated_header(const Fields& fields, const Columns& columns) {
    if (!columns.header || fields.size() != columns.count) return false;
    const std::string_view stamp = fields[static_cast<std::size_t>(columns.stamp)];
    return !stamp.empty() && !(stamp[0] >= '0' && stamp[0] <= '9') && same_header(fields, columns);
}

// Title and source lines before the header ("ACME Corp, daily", "Source:
// ..."): a field or two that name no column; a few at most.
constexpr int kMostTitleLines = 10;
bool title_like(const Fields& fields);

// Every field empty: a row of separators.
bool all_empty(const Fields& fields);

}  // namespace tidemark::reader

#endif
