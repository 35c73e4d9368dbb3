// Column names as exports write them: case, spaces, punctuation, units in
// brackets and markers do not matter ("Close (USD)", "<CLOSE>", "Close*" are
// all the close), and a few other words stand for a column ("Price",
// "Close/Last", "Vol."). A user names the rest with --columns.
#ifndef TIDEMARK_SCAN_COLUMNS_H
#define TIDEMARK_SCAN_COLUMNS_H

#include <string>
#include <string_view>
#include <vector>

namespace tidemark::scan {

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

// Columns the user names: "date=Datum,open=Eröffnung,...". A name matches a
// header field in any case, with spaces and quotes around it ignored.
struct ColumnChoice {
    Role role;
    std::string name;
};
bool parse_column_choices(std::string_view text, std::vector<ColumnChoice>& out, std::string& why);
bool same_column_name(std::string_view field, std::string_view name);

}  // namespace tidemark::scan

#endif
