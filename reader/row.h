// Row -> bar: one line's fields as a bar, and the checks every bar must pass,
// whether it comes from a file or from a front end's own arrays.
#ifndef TIDEMARK_READER_ROW_H
#define TIDEMARK_READER_ROW_H

#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bars.h"
#include "columns.h"
#include "fields.h"
#include "number.h"
#include "timestamp.h"

namespace tidemark::reader {

// Why the date read from a date field lies outside a bar record's time: 11
// or 12 digits read as seconds may be epoch milliseconds of 1973 to 2001,
// unless the caller chose the unit (option). For a file's date column and a
// front end's column of dates alike.
std::string outside_text(std::string_view field, DateOrder option, const OptionSpelling& spelling);

// A bar's values in this order, everywhere a bar's numbers are handed over
// together.
enum BarValue { kOpen, kHigh, kLow, kClose, kVolume, kBarValues };

// The values into a bar, in that order.
inline void set_values(Bar& bar, const double values[kBarValues]) {
    bar.open = values[kOpen];
    bar.high = values[kHigh];
    bar.low = values[kLow];
    bar.close = values[kClose];
    bar.volume = values[kVolume];
}

// What can be wrong with one bar, first found first: a value not a finite
// number (in value order), high below low, a range high - low beyond a
// double, open then close below low or above high, a negative volume.
enum class BarFault { none, not_finite, high_below_low, range_not_finite, below_low, above_high, negative_volume };

struct BarCheck {
    BarFault fault = BarFault::none;
    BarValue value = kOpen;  // the value at fault, for not_finite, below_low and above_high
    explicit operator bool() const { return fault != BarFault::none; }
};

// The checks of one bar, on its values (open, high, low, close, volume).
// Inline: every row of a file passes here.
inline BarCheck check_bar(const double v[kBarValues]) {
    for (int i = 0; i < kBarValues; ++i)
        if (!std::isfinite(v[i])) return {BarFault::not_finite, static_cast<BarValue>(i)};
    if (v[kHigh] < v[kLow]) return {BarFault::high_below_low, kHigh};
    if (!std::isfinite(v[kHigh] - v[kLow])) return {BarFault::range_not_finite, kHigh};
    for (const BarValue price : {kOpen, kClose}) {
        if (v[price] < v[kLow]) return {BarFault::below_low, price};
        if (v[price] > v[kHigh]) return {BarFault::above_high, price};
    }
    if (v[kVolume] < 0) return {BarFault::negative_volume, kVolume};
    return {};
}

// The message of a fault, showing each value as texts[] gives it (the field
// as written in a file, or exact() of a number).
std::string bar_fault_text(const BarCheck& check, const std::string texts[kBarValues]);

// The names of the values, "open" ... "volume".
const char* bar_value_name(BarValue value);

// What the rows of one file share as they are read: the date column's form
// and order, the symbol, and the counts of rows and volumes passed over.
struct RowState {
    RowState(DateOrder order, std::string wanted, const OptionSpelling& names = command_spelling())
        : dates(order, names), wanted_symbol(std::move(wanted)), spelling(&names) {}
    DateReader dates;
    std::string wanted_symbol;  // the symbol chosen, or empty
    const OptionSpelling* spelling;
    std::string symbol;         // the first row's, when there is a symbol column and none is chosen
    long symbol_line = 0;
    std::size_t other_symbols = 0;  // rows of symbols other than the one chosen
    static constexpr std::size_t kSymbolsNamed = 12;
    std::vector<std::string> other_symbol_names;  // the first few of them, for a choice that finds none
    std::size_t placeholders = 0;     // rows whose prices are all "null"
    std::size_t unknown_volumes = 0;  // volumes that could not be read (0 in the bar)
    std::string scratch;              // a date and a time column, joined
    DecimalMark mark{false, false};   // set from the separator once it is known
};

enum class RowResult { bar, skipped, fault };

// A row directly under a header that names rather than holds: a download
// library's "Ticker,XYZ,XYZ,..." and "Date,,,,", a "reset_index" row
// ",XYZ,XYZ,...", a units row ",USD,USD,...,shares". Its date field names a
// column (or is "Ticker", "Price", "Currency", "Unit"), or is empty with no
// number among the prices and volume.
bool row_of_names(const Fields& fields, const Columns& columns);

// A line among or after the bars that cannot be a bar, however damaged: it
// names a dividend, a split or a capital gain (a pasted web table's rows);
// or its date field is no date, it holds a letter, and it has another
// number of fields than a bar or no number among its prices (a provider's
// note, a disclaimer, a footnote). A line that could be a damaged bar (a
// date, or only numbers) is not one.
bool note_line(const Fields& fields, const Columns& columns);

// Row -> bar: the fields of one line, mapped by columns, numbers read with
// the state's decimal mark. A row of "null" prices is skipped (counted), so
// is a row of another symbol than the one chosen; anything wrong is a fault
// with why set.
RowResult row_to_bar(const Fields& fields, const Columns& columns, long line_no, RowState& state, Bar& bar,
                     std::string& why);

}  // namespace tidemark::reader

#endif
