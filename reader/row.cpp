#include "row.h"

#include <cmath>

#include "number.h"
#include "text.h"
#include "timestamp.h"

namespace tidemark::reader {

const char* bar_value_name(BarValue value) {
    static const char* const kNames[] = {"open", "high", "low", "close", "volume"};
    return kNames[value];
}

BarCheck check_bar(const double v[kBarValues]) {
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

RowResult row_to_bar(const Fields& fields, const Columns& columns, bool decimal_comma, long line_no,
                     RowState& state, Bar& bar, std::string& why) {
    const auto count_text = [&] {
        return std::to_string(fields.size()) + (fields.size() == 1 ? " field" : " fields");
    };
    if (columns.count > 0) {
        if (fields.size() != columns.count) {
            why = count_text() + (columns.header ? ", but the header on line " : ", but the first bar, on line ") +
                  std::to_string(columns.header_line) + ", has " + std::to_string(columns.count);
            if (columns.header) why.erase(why.rfind(", has"), 1);
            return RowResult::fault;
        }
    } else if (fields.size() < 5) {
        why = count_text() + ", expected date, open, high, low, close and optional volume";
        return RowResult::fault;
    } else if (fields.size() > 6) {
        why = count_text() + ", expected at most 6: date, open, high, low, close, volume";
        return RowResult::fault;
    }
    const int column[kBarValues] = {columns.open, columns.high, columns.low, columns.close,
                                    columns.count > 0 ? columns.volume : (fields.size() == 6 ? 5 : -1)};
    const auto field_at = [&](int i) { return fields[static_cast<std::size_t>(i)]; };

    if (!state.wanted_symbol.empty() && columns.symbol < 0) {
        why = state.spelling->symbol + " chooses \"" + shown(state.wanted_symbol) +
              "\", but the file has no symbol column (named symbol, ticker or <TICKER>)";
        return RowResult::fault;
    }
    if (columns.symbol >= 0) {
        // One series per file: a second symbol is never mixed into the first.
        const std::string_view here = field_at(columns.symbol);
        if (!state.wanted_symbol.empty()) {
            if (here != state.wanted_symbol) {
                ++state.other_symbols;
                return RowResult::skipped;
            }
        } else if (state.symbol_line == 0) {
            state.symbol.assign(here.data(), here.size());
            state.symbol_line = line_no;
        } else if (here != state.symbol) {
            why = "symbol \"" + shown(here) + "\" in column " + shown(columns.symbol_name) + " is not \"" +
                  shown(state.symbol) + "\" of line " + std::to_string(state.symbol_line) +
                  ": the file holds several symbols; choose one with " +
                  state.spelling->with(state.spelling->symbol, "NAME", true) +
                  ", or save each in a file of its own to screen them";
            return RowResult::fault;
        }
    }

    double values[kBarValues] = {0, 0, 0, 0, 0};
    // The fault's message, with each value as its field is written.
    const auto fault_text = [&](const BarCheck& check) {
        const auto text_of = [&](int value) {
            return column[value] < 0 ? std::string("0") : shown(field_at(column[value]));
        };
        const std::string texts[kBarValues] = {text_of(0), text_of(1), text_of(2), text_of(3), text_of(4)};
        return bar_fault_text(check, texts);
    };
    for (int i = 0; i < kVolume; ++i) {
        if (parse_price(field_at(column[i]), decimal_comma, values[i])) continue;
        // A portal's row for a day without prices ("null" in each).
        bool placeholder = true;
        for (int k = 0; k < kVolume; ++k) placeholder = placeholder && missing_value(field_at(column[k]));
        if (placeholder) {
            ++state.placeholders;
            return RowResult::skipped;
        }
        why = fault_text({BarFault::not_finite, static_cast<BarValue>(i)});
        return RowResult::fault;
    }

    bar = Bar{};
    std::string_view stamp = field_at(columns.stamp);
    if (columns.time >= 0 && !field_at(columns.time).empty()) {
        // Reused from row to row: no allocation once it is long enough.
        state.scratch.assign(stamp.data(), stamp.size());
        state.scratch += ' ';
        state.scratch.append(field_at(columns.time));
        stamp = state.scratch;
    }
    if (!state.dates.read(stamp, line_no, bar.time, why)) return RowResult::fault;
    if (bar.time < kEarliestTime || bar.time > kLatestTime) {
        // 11 or 12 digits read as seconds: epoch milliseconds of 1973 to 2001?
        const bool digits_only = stamp.find_first_not_of("0123456789") == std::string_view::npos;
        why = outside_time_range(shown(stamp), digits_only && (stamp.size() == 11 || stamp.size() == 12) &&
                                                   epoch_unit_of(state.dates.option()) == EpochUnit::none,
                                 *state.spelling);
        return RowResult::fault;
    }
    if (column[kVolume] >= 0 && !parse_volume(field_at(column[kVolume]), decimal_comma, values[kVolume])) {
        // The analysis does not use the volume: the bar stays.
        values[kVolume] = 0;
        ++state.unknown_volumes;
    }
    if (const BarCheck check = check_bar(values)) {
        why = fault_text(check);
        return RowResult::fault;
    }
    bar.open = values[kOpen];
    bar.high = values[kHigh];
    bar.low = values[kLow];
    bar.close = values[kClose];
    bar.volume = values[kVolume];
    return RowResult::bar;
}

}  // namespace tidemark::reader
