#include "columns.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

#include "text.h"
#include "timestamp.h"

namespace tidemark::reader {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// The letters and digits of a name, lower-cased, without what is in
// brackets (a unit: "Close (USD)", "Volume [shares]").
std::string word_of(std::string_view field) {
    std::string out;
    int depth = 0;
    for (char c : field) {
        if (c == '(' || c == '[') ++depth;
        else if ((c == ')' || c == ']') && depth > 0) --depth;
        else if (depth == 0 && is_alnum(ascii_lower(c))) out += ascii_lower(c);
    }
    return out;
}

struct Known {
    const char* word;
    Role role;
    int rank;
};
const Known kKnown[] = {
    {"date", Role::date, 0},
    {"time", Role::time, 0},
    {"datetime", Role::datetime, 0},
    {"timestamp", Role::datetime, 0},
    {"localtime", Role::datetime, 1},
    {"gmttime", Role::datetime, 1},
    {"utctime", Role::datetime, 1},
    {"open", Role::open, 0},
    {"openprice", Role::open, 0},
    {"high", Role::high, 0},
    {"highprice", Role::high, 0},
    {"low", Role::low, 0},
    {"lowprice", Role::low, 0},
    {"close", Role::close, 0},
    {"closeprice", Role::close, 0},
    {"closelast", Role::close, 1},
    {"last", Role::close, 2},
    {"lastprice", Role::close, 2},
    {"price", Role::close, 3},
    {"adjclose", Role::close, kAdjustedCloseRank},
    {"adjustedclose", Role::close, kAdjustedCloseRank},
    {"volume", Role::volume, 0},
    {"vol", Role::volume, 1},
    {"tickvol", Role::volume, 2},
    {"tickvolume", Role::volume, 2},
    {"symbol", Role::symbol, 0},
    {"ticker", Role::symbol, 0},
    {"instrument", Role::symbol, 1},
};

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '"' || s.front() == '\'')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '"' || s.back() == '\'')) s.remove_suffix(1);
    return s;
}


const char* const kColumnsHint = "name the columns with --columns date=NAME,open=NAME,high=NAME,low=NAME,close=NAME";

// Whether a line names any column, by the names exports use or the user's.
bool names_a_column(const Fields& fields, const std::vector<ColumnChoice>& choices) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (column_name(fields[i]).role != Role::other) return true;
        for (const ColumnChoice& c : choices)
            if (same_column_name(fields[i], c.name)) return true;
    }
    return false;
}

// Maps a header's names to columns, or says what is missing. The user's
// names come first; of two columns that name one role the stronger name is
// taken ("Close" before "Adj Close").
bool map_header(const Fields& fields, const std::vector<ColumnChoice>& choices, Columns& columns, std::string& why) {
    constexpr int kChosen = -1, kNone = 1 << 20;
    int at[kRoles], rank[kRoles];
    std::fill(at, at + kRoles, -1);
    std::fill(rank, rank + kRoles, kNone);
    bool taken[Fields::kMost] = {};
    for (const ColumnChoice& c : choices) {
        std::size_t i = 0;
        while (i < fields.size() && !same_column_name(fields[i], c.name)) ++i;
        if (i == fields.size()) {
            why = std::string("--columns names ") + role_name(c.role) + "=" + shown(c.name) +
                  ", but the header has no column named \"" + shown(c.name) + "\"";
            return false;
        }
        at[static_cast<int>(c.role)] = static_cast<int>(i);
        rank[static_cast<int>(c.role)] = kChosen;
        taken[i] = true;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const ColumnName name = column_name(fields[i]);
        const int r = static_cast<int>(name.role);
        if (taken[i] || name.role == Role::other || rank[r] == kChosen) continue;
        if (rank[r] == name.rank) {
            why = "columns " + std::to_string(at[r] + 1) + " and " + std::to_string(i + 1) + " are both named " +
                  shown(fields[i]);
            return false;
        }
        if (name.rank < rank[r]) {
            at[r] = static_cast<int>(i);
            rank[r] = name.rank;
        }
    }
    const auto column = [&](Role role) { return at[static_cast<int>(role)]; };
    if (column(Role::datetime) >= 0 && rank[static_cast<int>(Role::date)] != kChosen) {
        columns.stamp = column(Role::datetime);
    } else if (column(Role::date) >= 0) {
        columns.stamp = column(Role::date);
        columns.time = column(Role::time);
    } else {
        columns.stamp = column(Role::time);
    }
    columns.open = column(Role::open);
    columns.high = column(Role::high);
    columns.low = column(Role::low);
    columns.close = column(Role::close);
    columns.volume = column(Role::volume);
    columns.symbol = column(Role::symbol);
    if (columns.symbol >= 0) columns.symbol_name = std::string(fields[static_cast<std::size_t>(columns.symbol)]);
    if (columns.close >= 0 && rank[static_cast<int>(Role::close)] == kAdjustedCloseRank)
        columns.close_name = std::string(fields[static_cast<std::size_t>(columns.close)]);
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
        why += std::string(": ") + kColumnsHint;
        return false;
    }
    if (missing_count > 0) {
        why = "the header has no " + named + ": " + kColumnsHint;
        return false;
    }
    columns.header = true;
    columns.count = fields.size();
    columns.stamp_name = std::string(fields[static_cast<std::size_t>(columns.stamp)]);
    return true;
}

}  // namespace

const char* role_name(Role role) {
    static const char* const kNames[] = {"other", "date", "time",  "datetime", "open",
                                         "high",  "low",  "close", "volume",   "symbol"};
    return kNames[static_cast<int>(role)];
}

ColumnName column_name(std::string_view field) {
    const std::string word = word_of(field);
    for (std::size_t i = 0; i < std::size(kKnown); ++i)
        if (word == kKnown[i].word) return ColumnName{kKnown[i].role, kKnown[i].rank};
    return ColumnName{};
}

bool same_column_name(std::string_view field, std::string_view name) {
    field = trimmed(field);
    name = trimmed(name);
    if (field.size() != name.size()) return false;
    for (std::size_t i = 0; i < field.size(); ++i)
        if (ascii_lower(field[i]) != ascii_lower(name[i])) return false;
    return true;
}

bool parse_column_choices(std::string_view text, std::vector<ColumnChoice>& out, std::string& why) {
    out.clear();
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const std::size_t eq = item.find('=');
        const std::string_view role_text = trimmed(item.substr(0, eq));
        const std::string_view name = eq == std::string_view::npos ? std::string_view() : trimmed(item.substr(eq + 1));
        Role role = Role::other;
        for (int r = 1; r < kRoles; ++r)
            if (role_text == role_name(static_cast<Role>(r))) role = static_cast<Role>(r);
        if (role == Role::other || name.empty()) {
            why = "--columns takes ROLE=NAME pairs separated by commas, ROLE one of date, time, datetime, open, "
                  "high, low, close, volume, symbol (as in --columns date=Datum,close=Schluss)";
            return false;
        }
        if (std::any_of(out.begin(), out.end(), [&](const ColumnChoice& c) { return c.role == role; })) {
            why = std::string("--columns names the ") + role_name(role) + " column twice";
            return false;
        }
        out.push_back(ColumnChoice{role, std::string(name)});
    }
    if (out.empty()) {
        why = "--columns needs ROLE=NAME pairs (as in --columns date=Datum,close=Schluss)";
        return false;
    }
    return true;
}

bool all_empty(const Fields& fields) {
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (!fields[i].empty()) return false;
    return true;
}

bool title_like(const Fields& fields) {
    std::size_t filled = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) filled += fields[i].empty() ? 0 : 1;
    return filled <= 2;
}

bool same_header(const Fields& fields, const Columns& columns) {
    return same_column_name(fields[static_cast<std::size_t>(columns.stamp)], columns.stamp_name);
}

bool columns_from_names(const std::vector<std::string>& names, const std::vector<ColumnChoice>& choices,
                        bool dates_elsewhere, Columns& columns, std::string& why) {
    columns = Columns{};
    // The names that can matter, within a header's most fields; a table may
    // have far more columns than a file's row.
    std::vector<std::size_t> at;
    Fields fields;
    const auto chosen = [&](const std::string& name) {
        return std::any_of(choices.begin(), choices.end(),
                           [&](const ColumnChoice& c) { return same_column_name(name, c.name); });
    };
    bool dated = std::any_of(choices.begin(), choices.end(), [](const ColumnChoice& c) {
        return c.role == Role::date || c.role == Role::datetime || c.role == Role::time;
    });
    // All of them when they fit, so that a message's column numbers are the table's.
    const bool all = names.size() < Fields::kMost;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Role role = column_name(names[i]).role;
        if (!all && role == Role::other && !chosen(names[i])) continue;
        dated = dated || role == Role::date || role == Role::datetime || role == Role::time;
        if (fields.size() + 1 == Fields::kMost) break;  // room for the stand-in date below
        fields.add(names[i]);
        at.push_back(i);
    }
    // Dates in the index: a stand-in date column, forgotten after the mapping.
    const std::string stand_in = "date";
    const bool standing_in = dates_elsewhere && !dated;
    if (standing_in) fields.add(stand_in);
    if (!map_header(fields, choices, columns, why)) return false;
    const auto position = [&](int& field) {
        if (field < 0) return;
        field = static_cast<std::size_t>(field) < at.size() ? static_cast<int>(at[static_cast<std::size_t>(field)]) : -1;
    };
    for (int* field : {&columns.stamp, &columns.time, &columns.open, &columns.high, &columns.low, &columns.close,
                       &columns.volume, &columns.symbol})
        position(*field);
    if (standing_in) columns.stamp_name.clear();
    columns.count = names.size();
    return true;
}

FirstLine columns_from_first_line(const Fields& fields, long line_no, const std::vector<ColumnChoice>& choices,
                                  Columns& columns, std::string& why) {
    columns = Columns{};
    // A header names its columns; a first field that starts like a number or
    // a date is a bar, however broken.
    const std::string_view lead = fields[0];
    const bool bar_like =
        !lead.empty() && (is_digit(lead[0]) || (lead[0] == '-' && lead.size() > 1 && is_digit(lead[1])));
    if (!bar_like) {
        if (!names_a_column(fields, choices)) {
            why = "neither a header naming the date, open, high, low and close columns nor a bar: date \"" +
                  shown(fields[0]) + "\" is not a date; if it is a header, " + kColumnsHint;
            return FirstLine::unnamed;
        }
        if (!map_header(fields, choices, columns, why)) return FirstLine::fault;
        columns.header_line = line_no;
        return FirstLine::header;
    }
    columns.stamp = 0;
    columns.open = 1;
    columns.high = 2;
    columns.low = 3;
    columns.close = 4;
    return FirstLine::bar;
}

}  // namespace tidemark::reader
