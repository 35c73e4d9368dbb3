#include "columns.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "text.h"
#include "timestamp.h"

namespace tidemark::reader {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Column names as people write them: case, spaces, underscores and the angle
// brackets of some exports do not matter.
std::string normalised(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c >= 'A' && c <= 'Z') out += static_cast<char>(c - 'A' + 'a');
        else if ((c >= 'a' && c <= 'z') || is_digit(c)) out += c;
    }
    return out;
}

enum class Name { other, date, datetime, time, open, high, low, close, volume, vol };

Name name_of(std::string_view field) {
    const std::string name = normalised(field);
    if (name == "date") return Name::date;
    if (name == "datetime" || name == "timestamp") return Name::datetime;
    if (name == "time") return Name::time;
    if (name == "open") return Name::open;
    if (name == "high") return Name::high;
    if (name == "low") return Name::low;
    if (name == "close") return Name::close;
    if (name == "volume") return Name::volume;
    if (name == "vol") return Name::vol;
    return Name::other;
}

// Maps a header's names to columns, or says what is missing.
bool map_header(const Fields& fields, Columns& columns, std::string& why) {
    constexpr int kNames = static_cast<int>(Name::vol) + 1;
    int at[kNames];
    std::fill(at, at + kNames, -1);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Name name = name_of(fields[i]);
        if (name == Name::other) continue;  // a column the analysis does not use
        int& slot = at[static_cast<int>(name)];
        if (slot >= 0) {
            why = "columns " + std::to_string(slot + 1) + " and " + std::to_string(i + 1) + " are both named " +
                  shown(fields[i]);
            return false;
        }
        slot = static_cast<int>(i);
    }
    const auto column = [&](Name name) { return at[static_cast<int>(name)]; };
    if (column(Name::datetime) >= 0) {
        columns.stamp = column(Name::datetime);
    } else if (column(Name::date) >= 0) {
        columns.stamp = column(Name::date);
        columns.time = column(Name::time);
    } else {
        columns.stamp = column(Name::time);
    }
    columns.open = column(Name::open);
    columns.high = column(Name::high);
    columns.low = column(Name::low);
    columns.close = column(Name::close);
    columns.volume = column(Name::volume) >= 0 ? column(Name::volume) : column(Name::vol);
    std::string missing;
    int missing_count = 0;
    const std::pair<const char*, int> prices[] = {
        {"open", columns.open}, {"high", columns.high}, {"low", columns.low}, {"close", columns.close}};
    for (const auto& [name, index] : prices) {
        if (index >= 0) continue;
        missing += std::string(missing.empty() ? "" : ", ") + name;
        ++missing_count;
    }
    const std::string named = std::string(missing_count == 1 ? "column" : "columns") + " named " + missing;
    if (columns.stamp < 0) {
        why = "the header has no date column (named date, time, datetime or timestamp)";
        if (missing_count > 0) why += " and no " + named;
        return false;
    }
    if (missing_count > 0) {
        why = "the header has no " + named;
        return false;
    }
    columns.header = true;
    columns.count = fields.size();
    return true;
}

}  // namespace

bool columns_from_first_line(const Fields& fields, long line_no, Columns& columns, std::string& why) {
    columns = Columns{};
    // A header names its columns; a first field that starts like a number or
    // a date is a bar, however broken.
    const std::string_view lead = fields[0];
    const bool bar_like =
        !lead.empty() && (is_digit(lead[0]) || (lead[0] == '-' && lead.size() > 1 && is_digit(lead[1])));
    if (!bar_like) {
        bool named = false;
        for (std::size_t i = 0; i < fields.size(); ++i) named = named || name_of(fields[i]) != Name::other;
        if (!named) {
            why = "neither a header naming the date, open, high, low and close columns nor a bar: " +
                  not_a_date(fields[0]);
            return false;
        }
        if (!map_header(fields, columns, why)) return false;
        columns.header_line = line_no;
        return true;
    }
    columns.stamp = 0;
    columns.open = 1;
    columns.high = 2;
    columns.low = 3;
    columns.close = 4;
    return true;
}

}  // namespace tidemark::reader
