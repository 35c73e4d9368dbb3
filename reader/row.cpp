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

bool row_to_bar(const Fields& fields, const Columns& columns, bool decimal_comma, std::string& scratch, Bar& bar,
                std::string& why) {
    const auto count_text = [&] {
        return std::to_string(fields.size()) + (fields.size() == 1 ? " field" : " fields");
    };
    if (columns.header) {
        if (fields.size() != columns.count) {
            why = count_text() + ", but the header on line " + std::to_string(columns.header_line) + " has " +
                  std::to_string(columns.count);
            return false;
        }
    } else if (fields.size() < 5) {
        why = count_text() + ", expected date, open, high, low, close and optional volume";
        return false;
    } else if (fields.size() > 6) {
        why = count_text() + ", expected at most 6: date, open, high, low, close, volume";
        return false;
    }
    const int column[kBarValues] = {columns.open, columns.high, columns.low, columns.close,
                                    columns.header ? columns.volume : (fields.size() == 6 ? 5 : -1)};

    bar = Bar{};
    std::string_view stamp = fields[static_cast<std::size_t>(columns.stamp)];
    if (columns.time >= 0) {
        // Reused from row to row: no allocation once it is long enough.
        scratch.assign(stamp.data(), stamp.size());
        scratch += ' ';
        scratch.append(fields[static_cast<std::size_t>(columns.time)]);
        stamp = scratch;
    }
    if (!bar_time(stamp, bar.time, why)) return false;

    double values[kBarValues] = {0, 0, 0, 0, 0};
    const auto text_of = [&](int value) {
        return column[value] < 0 ? std::string("0") : shown(fields[static_cast<std::size_t>(column[value])]);
    };
    for (int i = 0; i < kBarValues; ++i) {
        if (column[i] < 0) continue;
        if (!parse_number(fields[static_cast<std::size_t>(column[i])], decimal_comma, values[i])) {
            const std::string texts[kBarValues] = {text_of(0), text_of(1), text_of(2), text_of(3), text_of(4)};
            why = bar_fault_text({BarFault::not_finite, static_cast<BarValue>(i)}, texts);
            return false;
        }
    }
    if (const BarCheck check = check_bar(values)) {
        const std::string texts[kBarValues] = {text_of(0), text_of(1), text_of(2), text_of(3), text_of(4)};
        why = bar_fault_text(check, texts);
        return false;
    }
    bar.open = values[kOpen];
    bar.high = values[kHigh];
    bar.low = values[kLow];
    bar.close = values[kClose];
    bar.volume = values[kVolume];
    return true;
}

}  // namespace tidemark::reader
