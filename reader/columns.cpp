#include "columns.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

#include "number.h"
#include "text.h"
#include "timestamp.h"

namespace tidemark::reader {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// A name without what is in brackets (a unit: "Close (USD)", "Volume
// [shares]").
std::string without_units(std::string_view name) {
    std::string kept;
    int depth = 0;
    for (const char c : name) {
        if (c == '(' || c == '[') ++depth;
        else if ((c == ')' || c == ']') && depth > 0) --depth;
        else if (depth == 0) kept += c;
    }
    return kept;
}

// The letters and digits of a name, lower-cased, units aside.
std::string word_of(std::string_view field) {
    std::string out;
    for (const char c : without_units(field))
        if (is_alnum(ascii_lower(c))) out += ascii_lower(c);
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
    {"opentime", Role::datetime, 1},
    {"observationdate", Role::date, 1},
    {"week", Role::date, 1},
    {"month", Role::date, 1},
    {"quarter", Role::date, 1},
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


std::string columns_hint(const OptionSpelling& spelling) {
    return "name the columns with " +
           spelling.columns_with({{"date", "NAME"}, {"open", "NAME"}, {"high", "NAME"}, {"low", "NAME"}, {"close", "NAME"}},
                                 true);
}

// A --columns name of digits alone is a column's position, 1 for the first.
bool position_of(std::string_view name, std::size_t& index) {
    name = trimmed(name);
    if (name.empty() || name.size() > 4 || name.find_first_not_of("0123456789") != std::string_view::npos) return false;
    index = static_cast<std::size_t>(std::stoul(std::string(name)));
    return true;
}

bool all_positions(const std::vector<ColumnChoice>& choices, std::size_t& highest) {
    highest = 0;
    for (const ColumnChoice& c : choices) {
        std::size_t p = 0;
        if (!position_of(c.name, p)) return false;
        highest = std::max(highest, p);
    }
    return !choices.empty();
}

// Whether a line names any column, by the names exports use or the user's;
// with the columns chosen by position, any line as wide as they need that
// is not a title.
bool names_a_column(const Fields& fields, const std::vector<ColumnChoice>& choices) {
    std::size_t highest = 0;
    if (all_positions(choices, highest)) return fields.size() >= highest && !title_like(fields);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (column_name(fields[i]).role != Role::other) return true;
        for (const ColumnChoice& c : choices)
            if (same_column_name(fields[i], c.name)) return true;
    }
    return false;
}

constexpr int kChosen = -1, kNone = 1 << 20;

// Where each role is, and how strongly its name says so (kChosen: the
// user's choice).
struct RoleMap {
    int at[kRoles] = {};
    int rank[kRoles] = {};
    bool taken[Fields::kMost] = {};
    RoleMap() {
        std::fill(at, at + kRoles, -1);
        std::fill(rank, rank + kRoles, kNone);
    }
    int column(Role role) const { return at[static_cast<int>(role)]; }
    bool chosen(Role role) const { return rank[static_cast<int>(role)] == kChosen; }
};

std::string column_list(const Fields& fields) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < fields.size(); ++i) names.emplace_back(fields[i]);
    return shown_list(names);
}

// The user's columns: by position, or by a name matched as header names are
// (header null: the file has none, and only positions name its columns).
bool resolve_choices(const Fields& row, bool header, const std::vector<ColumnChoice>& choices,
                     const OptionSpelling& spelling, RoleMap& map, std::string& why) {
    for (const ColumnChoice& c : choices) {
        const std::string named = spelling.columns + " names " + role_name(c.role) + "=" + shown(c.name);
        std::size_t i = 0;
        if (position_of(c.name, i)) {
            if (i == 0) {
                why = named + ", but columns are counted from 1";
                return false;
            }
            if (i > row.size()) {
                why = named + ", but " + (header ? "the header has " : "the rows have ") + std::to_string(row.size()) +
                      " columns";
                return false;
            }
            --i;
        } else if (!header) {
            why = named + ", but the file has no header (its first line is a bar): name its columns by position, as in " +
                  positions_example(spelling);
            return false;
        } else if (!find_column(row, c.name, i)) {
            why = named + ", but the header has no column named \"" + shown(c.name) + "\" (its columns: " +
                  column_list(row) + ")";
            return false;
        }
        map.at[static_cast<int>(c.role)] = static_cast<int>(i);
        map.rank[static_cast<int>(c.role)] = kChosen;
        map.taken[i] = true;
    }
    return true;
}

// The roles a header's names give the columns the user left: of two for
// one role the stronger name ("Close" before "Adj Close").
bool roles_from_names(const Fields& fields, RoleMap& map, std::string& why) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const ColumnName name = column_name(fields[i]);
        const int r = static_cast<int>(name.role);
        if (map.taken[i] || name.role == Role::other || map.rank[r] == kChosen) continue;
        if (map.rank[r] == name.rank) {
            why = "columns " + std::to_string(map.at[r] + 1) + " and " + std::to_string(i + 1) +
                  " are both named " + shown(fields[i]);
            return false;
        }
        if (name.rank < map.rank[r]) {
            map.at[r] = static_cast<int>(i);
            map.rank[r] = name.rank;
        }
    }
    return true;
}

// "Price, Close, High, Low, Open, Volume": the first row of a download
// library's header of several rows names the fields, and its first column
// (the dates, named on a row below) "Price".
bool field_kind_row(const Fields& fields, const RoleMap& map) {
    return fields.size() > 0 && map.column(Role::date) < 0 && map.column(Role::datetime) < 0 &&
           map.column(Role::time) < 0 && word_of(fields[0]) == "price" && map.column(Role::close) > 0;
}

void place_columns(const Fields& fields, const RoleMap& map, Columns& columns) {
    if (map.column(Role::datetime) >= 0 && !map.chosen(Role::date)) {
        columns.stamp = map.column(Role::datetime);
    } else if (map.column(Role::date) >= 0) {
        columns.stamp = map.column(Role::date);
        columns.time = map.column(Role::time);
    } else {
        columns.stamp = map.column(Role::time);
    }
    columns.open = map.column(Role::open);
    columns.high = map.column(Role::high);
    columns.low = map.column(Role::low);
    columns.close = map.column(Role::close);
    columns.volume = map.column(Role::volume);
    columns.symbol = map.column(Role::symbol);
    if (columns.symbol >= 0) columns.symbol_name = std::string(fields[static_cast<std::size_t>(columns.symbol)]);
    if (columns.close >= 0 && map.rank[static_cast<int>(Role::close)] == kAdjustedCloseRank)
        columns.close_name = std::string(fields[static_cast<std::size_t>(columns.close)]);
}

// Columns of a header without a close or any other price, which name no
// role: one is the close (a series of closes: "DATE,SP500"); several are a
// table of closes, a symbol per column, of which symbol chooses one. False
// when symbol names none of them.
bool closes_by_column(const Fields& fields, const RoleMap& map, std::string_view symbol, Columns& columns) {
    std::vector<int> others;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (!map.taken[i] && column_name(fields[i]).role == Role::other && static_cast<int>(i) != columns.stamp &&
            static_cast<int>(i) != columns.time && !fields[i].empty())
            others.push_back(static_cast<int>(i));
    if (others.size() == 1) {
        columns.close = others[0];
    } else if (others.size() > 1) {
        columns.table = others;
        for (int i : others)
            if (!symbol.empty() && same_column_name(fields[static_cast<std::size_t>(i)], symbol)) columns.close = i;
        if (columns.close >= 0) {
            columns.table.clear();
            columns.symbol_is_column = true;
        }
        for (int i : columns.table) columns.table_names.emplace_back(fields[static_cast<std::size_t>(i)]);
        if (columns.close < 0 && !symbol.empty()) return false;
    }
    if (columns.close >= 0) columns.close_name = std::string(fields[static_cast<std::size_t>(columns.close)]);
    return true;
}

// What the header lacks, or nothing; a close alone makes bars of closes.
bool check_prices(const Fields& fields, const RoleMap& map, const std::vector<ColumnChoice>& choices,
                  const OptionSpelling& spelling, Columns& columns, std::string& why) {
    const bool no_prices = columns.open < 0 && columns.high < 0 && columns.low < 0;
    if (no_prices && columns.close >= 0) {
        columns.close_only = true;
        columns.open = columns.high = columns.low = columns.close;
    }
    std::string missing;
    int missing_count = 0;
    const std::pair<Role, int> prices[] = {
        {Role::open, columns.open}, {Role::high, columns.high}, {Role::low, columns.low}, {Role::close, columns.close}};
    for (const auto& [role, index] : prices) {
        if (index >= 0) continue;
        missing += std::string(missing.empty() ? "" : ", ") + role_name(role);
        ++missing_count;
        // --columns close=Open: the user took the column that was the open.
        for (const ColumnChoice& c : choices) {
            const std::size_t at = static_cast<std::size_t>(map.column(c.role));
            if (column_name(fields[at]).role != role) continue;
            why = spelling.with(spelling.columns, std::string(role_name(c.role)) + "=" + shown(c.name), true) +
                  " takes column " + shown(fields[at]) + " as the " + role_name(c.role) + ", which leaves no " +
                  role_name(role) + " column: name one with " +
                  spelling.columns_with({{role_name(c.role), shown(c.name)}, {role_name(role), "NAME"}}, true);
            return false;
        }
    }
    const std::string named = std::string(missing_count == 1 ? "column" : "columns") + " named " + missing;
    if (columns.stamp < 0) {
        why = "the header has no date column (named date, time, datetime or timestamp)";
        if (missing_count > 0) why += " and no " + named;
        why += ": " + columns_hint(spelling);
        return false;
    }
    if (missing_count == 0) return true;
    const std::string refusal = "the header has no " + named + ": " + columns_hint(spelling);
    if (!columns.table.empty()) {
        // Kept until the first row shows whether the table holds closes.
        columns.table_refusal = refusal;
        return true;
    }
    why = refusal;
    return false;
}

// Maps a header's names to columns, or says what is missing. The user's
// names come first; of two columns that name one role the stronger name is
// taken ("Close" before "Adj Close").
bool map_header(const Fields& fields, const ColumnRequest& request, Columns& columns, std::string& why) {
    RoleMap map;
    if (!resolve_choices(fields, true, request.choices, request.spelling, map, why)) return false;
    if (!roles_from_names(fields, map, why)) return false;
    if (field_kind_row(fields, map)) {
        map.at[static_cast<int>(Role::date)] = 0;
        map.rank[static_cast<int>(Role::date)] = 0;
        if (map.column(Role::close) == 0) map.at[static_cast<int>(Role::close)] = -1;
    }
    place_columns(fields, map, columns);
    if (columns.close < 0 && columns.open < 0 && columns.high < 0 && columns.low < 0 && columns.stamp >= 0 &&
        !closes_by_column(fields, map, request.symbol, columns)) {
        why = request.spelling.symbol + " chooses \"" + shown(request.symbol) +
              "\", but no column of this table of closes is named so (its symbols: " +
              shown_list(columns.table_names) + ")";
        return false;
    }
    if (!check_prices(fields, map, request.choices, request.spelling, columns, why)) return false;
    columns.header = true;
    columns.count = fields.size();
    columns.stamp_name = std::string(fields[static_cast<std::size_t>(columns.stamp)]);
    return true;
}

// A first line that is a bar, with more than five or six fields, or with
// the columns chosen by position: where the date, time and prices are.
FirstLine columns_by_position(const Fields& fields, long line_no, const ColumnRequest& request, Columns& columns,
                              std::string& why) {
    columns.header_line = line_no;
    columns.count = fields.size();
    if (!request.choices.empty()) {
        RoleMap map;
        if (!resolve_choices(fields, false, request.choices, request.spelling, map, why)) return FirstLine::fault;
        place_columns(fields, map, columns);
        const int prices = (columns.open >= 0) + (columns.high >= 0) + (columns.low >= 0);
        if (columns.stamp < 0 || columns.close < 0 || prices == 1 || prices == 2) {
            why = request.spelling.columns + " must give the date, the close and either all of open, high and low "
                  "or none of them (bars of closes alone), as in " + positions_example(request.spelling);
            return FirstLine::fault;
        }
        if (prices == 0) {
            columns.close_only = true;
            columns.open = columns.high = columns.low = columns.close;
        }
        return FirstLine::bar;
    }
    const auto number = [&](std::size_t i) {
        double v = 0;
        return parse_price(fields[i], request.decimal_comma, v);
    };
    columns.stamp = 0;
    // 2003.02.27,00:00,open,high,low,close[,volume]: a date and a time of day.
    const bool clock = fields[1].find(':') != std::string_view::npos && time_of_day(fields[1]);
    const int first = clock ? 2 : 1;
    if (clock) columns.time = 1;
    bool prices = fields.size() >= static_cast<std::size_t>(first) + 4;
    for (std::size_t k = 0; prices && k < 4; ++k) prices = number(static_cast<std::size_t>(first) + k);
    // Without a time: the sixth field must read as a volume too.
    if (prices && !clock) prices = number(5);
    if (!prices) {
        why = std::to_string(fields.size()) + " fields without a header, and fields " + std::to_string(first + 1) +
              " to " + std::to_string(first + 5) + " are not open, high, low, close and volume: name the columns " +
              "by position with " + positions_example(request.spelling);
        return FirstLine::fault;
    }
    columns.open = first;
    columns.high = first + 1;
    columns.low = first + 2;
    columns.close = first + 3;
    if (fields.size() > static_cast<std::size_t>(first) + 4 && (!clock || fields.size() == 7)) columns.volume = first + 4;
    return FirstLine::bar;
}

}  // namespace

// How to name the columns of a file without a header.
std::string positions_example(const OptionSpelling& spelling) {
    return spelling.columns_with({{"date", "1"}, {"open", "2"}, {"high", "3"}, {"low", "4"}, {"close", "5"}});
}

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

std::string column_key(std::string_view name) {
    // A name in a legacy encoding is read as Windows-1252 (as shown()
    // shows it), so that what the user types in UTF-8 matches it.
    std::string text;
    name = as_utf8(name, text);
    std::string key;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            if (is_alnum(ascii_lower(name[i]))) key += ascii_lower(name[i]);
        } else if (c == 0xC3 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(name[i + 1]) <= 0x9E && static_cast<unsigned char>(name[i + 1]) != 0x97) {
            // Latin-1 capitals (À ... Þ, not ×) in lower case.
            key += name[i];
            key += static_cast<char>(name[++i] + 0x20);
        } else {
            key += name[i];
        }
    }
    return key;
}

bool same_column_name(std::string_view field, std::string_view name) {
    const std::string key = column_key(name);
    return !key.empty() && column_key(field) == key;
}

bool find_column(const Fields& fields, std::string_view name, std::size_t& index) {
    // The name as written (case, spaces and punctuation aside); else the
    // one column it names with units aside ("Close" for "Close (USD)").
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (same_column_name(fields[i], name)) {
            index = i;
            return true;
        }
    }
    const std::string word = column_key(without_units(name));
    std::size_t found = 0, count = 0;
    for (std::size_t i = 0; i < fields.size() && !word.empty(); ++i)
        if (column_key(without_units(fields[i])) == word) found = i, ++count;
    if (count != 1) return false;
    index = found;
    return true;
}

bool parse_column_choices(std::string_view text, std::vector<ColumnChoice>& out, std::string& why,
                          const OptionSpelling& spelling) {
    const std::string example = spelling.columns_with({{"date", "Datum"}, {"close", "Schluss"}});
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
            why = spelling.columns +
                  " takes ROLE=NAME pairs separated by commas, ROLE one of date, time, datetime, open, high, low, "
                  "close, volume, symbol (as in " + example + ")";
            return false;
        }
        if (std::any_of(out.begin(), out.end(), [&](const ColumnChoice& c) { return c.role == role; })) {
            why = spelling.columns + " names the " + role_name(role) + " column twice";
            return false;
        }
        out.push_back(ColumnChoice{role, std::string(name)});
    }
    if (out.empty()) {
        why = spelling.columns + " needs ROLE=NAME pairs (as in " + example + ")";
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
                        bool dates_elsewhere, Columns& columns, std::string& why, const OptionSpelling& spelling) {
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
    const ColumnRequest request{choices, std::string_view(), spelling, false};
    if (!map_header(fields, request, columns, why)) return false;
    // A table of closes in a DataFrame is the front end's to split: here it
    // is a table that names no price.
    if (!columns.table.empty()) {
        why = columns.table_refusal;
        return false;
    }
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

FirstLine columns_from_first_line(const Fields& fields, long line_no, const ColumnRequest& request,
                                  Columns& columns, std::string& why) {
    columns = Columns{};
    // A header names its columns; a first field that starts like a number or
    // a date is a bar, however broken.
    const std::string_view lead = fields[0];
    const bool bar_like =
        !lead.empty() && (is_digit(lead[0]) || (lead[0] == '-' && lead.size() > 1 && is_digit(lead[1])));
    if (!bar_like) {
        if (!names_a_column(fields, request.choices)) {
            why = "neither a header naming the date, open, high, low and close columns nor a bar: date \"" +
                  shown(fields[0]) + "\" is not a date; if it is a header, " + columns_hint(request.spelling);
            return FirstLine::unnamed;
        }
        if (!map_header(fields, request, columns, why)) return FirstLine::fault;
        columns.header_line = line_no;
        return FirstLine::header;
    }
    if (!request.choices.empty() || fields.size() > 6 ||
        (fields.size() == 6 && fields[1].find(':') != std::string_view::npos))
        return columns_by_position(fields, line_no, request, columns, why);
    columns.stamp = 0;
    columns.open = 1;
    columns.high = 2;
    columns.low = 3;
    columns.close = 4;
    return FirstLine::bar;
}

}  // namespace tidemark::reader
