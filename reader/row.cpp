#include "row.h"

#include <algorithm>
#include <cmath>

#include "number.h"
#include "text.h"
#include "timestamp.h"

namespace tidemark::reader {

const char* bar_value_name(BarValue value) {
    static const char* const kNames[] = {"open", "high", "low", "close", "volume"};
    return kNames[value];
}

std::string bar_fault_text(const BarCheck& check, const std::string texts[kBarValues]) {
    const std::string name = bar_value_name(check.value);
    switch (check.fault) {
        case BarFault::none:
            return std::string();
        case BarFault::not_finite:
            return name + " \"" + texts[check.value] + "\" is not a finite number";
        case BarFault::high_below_low:
            return "high " + texts[kHigh] + " is below low " + texts[kLow];
        case BarFault::range_not_finite:
            return "the range high - low (" + texts[kHigh] + " - " + texts[kLow] + ") is beyond the range of a double";
        case BarFault::below_low:
            return name + " " + texts[check.value] + " is below low " + texts[kLow];
        case BarFault::above_high:
            return name + " " + texts[check.value] + " is above high " + texts[kHigh];
        case BarFault::negative_volume:
            return "volume " + texts[kVolume] + " is negative";
    }
    return std::string();
}

namespace {

// The field at a column's place, one the columns found.
std::string_view field(const Fields& fields, int column) { return fields[static_cast<std::size_t>(column)]; }

std::string field_count(std::size_t n) { return std::to_string(n) + (n == 1 ? " field" : " fields"); }

// As many fields as the header (or the first bar) has, or 5 or 6.
bool count_fits(const Fields& fields, const Columns& columns, std::string& why) {
    if (columns.count > 0) {
        if (fields.size() == columns.count) return true;
        why = field_count(fields.size()) +
              (columns.header ? ", but the header on line " + std::to_string(columns.header_line) + " has "
                              : ", but the first bar, on line " + std::to_string(columns.header_line) + ", has ") +
              std::to_string(columns.count);
        return false;
    }
    if (fields.size() < 5) {
        why = field_count(fields.size()) + ", expected date, open, high, low, close and optional volume";
        return false;
    }
    if (fields.size() > 6) {
        why = field_count(fields.size()) + ", expected at most 6: date, open, high, low, close, volume";
        return false;
    }
    return true;
}

// Symbols as the user types them: case and the blanks around do not matter.
bool same_symbol(std::string_view a, std::string_view b) {
    const auto trim = [](std::string_view s) {
        while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
        while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
        return s;
    };
    a = trim(a);
    b = trim(b);
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ascii_lower(x) == ascii_lower(y);
           });
}

// One series per file: the symbol chosen, or the first row's, whose rows
// are read; the others skipped (and named, for a choice that finds none).
RowResult symbol_stage(const Fields& fields, const Columns& columns, RowState& state, std::string& why) {
    if (!state.wanted_symbol.empty() && columns.symbol < 0) {
        if (columns.symbol_is_column) return RowResult::bar;
        why = state.spelling->symbol + " chooses \"" + shown(state.wanted_symbol) +
              "\", but the file has no symbol column (named symbol, ticker or <TICKER>)";
        return RowResult::fault;
    }
    if (columns.symbol < 0) return RowResult::bar;
    const std::string_view here = field(fields, columns.symbol);
    if (!state.wanted_symbol.empty()) {
        if (here == state.wanted_symbol || same_symbol(here, state.wanted_symbol)) return RowResult::bar;
        ++state.other_symbols;
        if (state.other_symbol_names.size() < RowState::kSymbolsNamed &&
            std::find(state.other_symbol_names.begin(), state.other_symbol_names.end(), here) ==
                state.other_symbol_names.end())
            state.other_symbol_names.emplace_back(here);
        return RowResult::skipped;
    }
    if (state.symbol_line != 0 && here != state.symbol) {
        why = "symbol \"" + shown(here) + "\" in column " + shown(columns.symbol_name) + " is not \"" +
              shown(state.symbol) + "\" of line " + std::to_string(state.symbol_line) +
              ": the file holds several symbols; choose one with " +
              state.spelling->with(state.spelling->symbol, "NAME", true) +
              ", or save each in a file of its own to screen them";
        return RowResult::fault;
    }
    return RowResult::bar;
}

// A price that is no number: a portal's row for a day without prices
// ("null" in each) is skipped, one missing among numbers is a fault.
[[gnu::cold, gnu::noinline]] RowResult missing_price(const Fields& fields, const int column[kBarValues], int value,
                                                      RowState& state, std::string& why) {
    bool placeholder = true;
    for (int k = kOpen; k < kVolume; ++k) placeholder = placeholder && missing_value(field(fields, column[k]));
    if (placeholder) {
        ++state.placeholders;
        return RowResult::skipped;
    }
    why = bar_value_name(static_cast<BarValue>(value)) + std::string(" \"") + shown(field(fields, column[value])) +
          "\" is not a finite number";
    return RowResult::fault;
}

// Field -> number for the prices. Of a series of closes alone only the
// close is read, and it is the open, high and low too.
RowResult price_stage(const Fields& fields, const int column[kBarValues], bool close_only, long line_no,
                      RowState& state, double values[kBarValues], std::string& why) {
    for (int i = close_only ? kClose : kOpen; i < kVolume; ++i) {
        const std::string_view text = field(fields, column[i]);
        if (!state.mark.check(text, bar_value_name(static_cast<BarValue>(i)), line_no, why))
            return RowResult::fault;
        if (!parse_price(text, state.mark.comma(), values[i])) return missing_price(fields, column, i, state, why);
    }
    if (close_only) values[kOpen] = values[kHigh] = values[kLow] = values[kClose];
    return RowResult::bar;
}

// A date beyond a bar record's time.
[[gnu::cold, gnu::noinline]] bool outside(std::string_view stamp, const RowState& state, std::string& why) {
    why = outside_text(stamp, state.dates.option(), *state.spelling);
    return false;
}

// Field -> timestamp: the date (and a time column, joined), within a bar
// record's time.
bool date_stage(const Fields& fields, const Columns& columns, long line_no, RowState& state, int64_t& time,
                std::string& why) {
    std::string_view stamp = field(fields, columns.stamp);
    if (columns.time >= 0 && !field(fields, columns.time).empty()) {
        // Reused from row to row: no allocation once it is long enough.
        state.scratch.assign(stamp.data(), stamp.size());
        state.scratch += ' ';
        state.scratch.append(field(fields, columns.time));
        stamp = state.scratch;
    }
    if (!state.dates.read(stamp, line_no, time, why)) return false;
    if (in_record_time(time)) return true;
    return outside(stamp, state, why);
}

// The fields of the prices and the volume that hold a number.
bool any_number(const Fields& fields, const Columns& columns) {
    for (const int i : {columns.open, columns.high, columns.low, columns.close, columns.volume}) {
        double v = 0;
        if (i >= 0 && static_cast<std::size_t>(i) < fields.size() &&
            (parse_price(field(fields, i), false, v) || parse_price(field(fields, i), true, v)))
            return true;
    }
    return false;
}

bool has_word(std::string_view text, std::string_view word) {
    for (std::size_t at = 0; at + word.size() <= text.size(); ++at) {
        std::size_t k = 0;
        while (k < word.size() && ascii_lower(text[at + k]) == word[k]) ++k;
        if (k == word.size()) return true;
    }
    return false;
}

// The fault's message, with each value as its field is written.
[[gnu::cold, gnu::noinline]] RowResult bar_fault(const Fields& fields, const int column[kBarValues],
                                                  const BarCheck& check, std::string& why) {
    const auto text_of = [&](int value) {
        return column[value] < 0 ? std::string("0") : shown(field(fields, column[value]));
    };
    const std::string texts[kBarValues] = {text_of(0), text_of(1), text_of(2), text_of(3), text_of(4)};
    why = bar_fault_text(check, texts);
    return RowResult::fault;
}

}  // namespace

bool row_of_names(const Fields& fields, const Columns& columns) {
    if (columns.stamp < 0 || static_cast<std::size_t>(columns.stamp) >= fields.size()) return false;
    const std::string_view lead = field(fields, columns.stamp);
    if (lead.empty()) return !any_number(fields, columns);
    if (column_name(lead).role != Role::other) return true;
    const std::string key = column_key(lead);
    const char* const labels[] = {"ticker", "price", "currency", "unit", "units"};
    return std::any_of(std::begin(labels), std::end(labels), [&](const char* label) { return key == label; });
}

bool note_line(const Fields& fields, const Columns& columns) {
    bool letter = false;
    const char* const words[] = {"dividend", "split", "capital gain"};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string_view field = fields[i];
        if (std::any_of(std::begin(words), std::end(words), [&](const char* word) { return has_word(field, word); }))
            return true;
        letter = letter || std::any_of(field.begin(), field.end(), [](char c) {
                     return ascii_lower(c) >= 'a' && ascii_lower(c) <= 'z';
                 });
    }
    const std::size_t at = static_cast<std::size_t>(std::max(columns.stamp, 0));
    WrittenTime w;
    if (!letter || (at < fields.size() && read_written_time(fields[at], w) == DateProblem::none)) return false;
    const bool shape = columns.count > 0 ? fields.size() == columns.count : fields.size() == 5 || fields.size() == 6;
    return !shape || !any_number(fields, columns);
}

RowResult row_to_bar(const Fields& fields, const Columns& columns, long line_no, RowState& state, Bar& bar,
                     std::string& why) {
    // The usual rows, told without a call: as long as the header, of no
    // symbol chosen.
    if ((fields.size() != columns.count || columns.count == 0) && !count_fits(fields, columns, why))
        return RowResult::fault;
    const int column[kBarValues] = {columns.open, columns.high, columns.low, columns.close,
                                    columns.count > 0 ? columns.volume : (fields.size() == 6 ? 5 : -1)};
    if (columns.symbol >= 0 || !state.wanted_symbol.empty()) {
        if (const RowResult r = symbol_stage(fields, columns, state, why); r != RowResult::bar) return r;
    }
    double values[kBarValues] = {0, 0, 0, 0, 0};
    if (const RowResult r = price_stage(fields, column, columns.close_only, line_no, state, values, why);
        r != RowResult::bar)
        return r;
    bar = Bar{};
    if (!date_stage(fields, columns, line_no, state, bar.time, why)) return RowResult::fault;
    if (column[kVolume] >= 0 && !parse_volume(field(fields, column[kVolume]), state.mark.comma(), values[kVolume])) {
        // The analysis does not use the volume: the bar stays.
        values[kVolume] = 0;
        ++state.unknown_volumes;
    }
    if (const BarCheck check = check_bar(values)) return bar_fault(fields, column, check, why);
    if (columns.symbol >= 0 && state.wanted_symbol.empty() && state.symbol_line == 0) {
        // The first bar's symbol, which every later row must have.
        state.symbol = field(fields, columns.symbol);
        state.symbol_line = line_no;
    }
    set_values(bar, values);
    return RowResult::bar;
}

std::string outside_text(std::string_view field, DateOrder option, const OptionSpelling& spelling) {
    const bool digits_only = field.find_first_not_of("0123456789") == std::string_view::npos;
    return outside_time_range(shown(field), digits_only && (field.size() == 11 || field.size() == 12) &&
                                                epoch_unit_of(option) == EpochUnit::none,
                              spelling);
}

}  // namespace tidemark::reader
