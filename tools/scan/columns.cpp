#include "columns.h"

#include <cstdint>

namespace tidemark::scan {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool is_alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// The letters and digits of a name, lower-cased, without what is in
// brackets (a unit: "Close (USD)", "Volume [shares]").
std::string word_of(std::string_view field) {
    std::string out;
    int depth = 0;
    for (char c : field) {
        if (c == '(' || c == '[') ++depth;
        else if ((c == ')' || c == ']') && depth > 0) --depth;
        else if (depth == 0 && is_alnum(lower(c))) out += lower(c);
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

}  // namespace

const char* role_name(Role role) {
    static const char* const kNames[] = {"other", "date", "time",  "datetime", "open",
                                         "high",  "low",  "close", "volume",   "symbol"};
    return kNames[static_cast<int>(role)];
}

ColumnName column_name(std::string_view field) {
    const std::string word = word_of(field);
    for (const Known& k : kKnown)
        if (word == k.word) return ColumnName{k.role, k.rank};
    return ColumnName{};
}

bool same_column_name(std::string_view field, std::string_view name) {
    field = trimmed(field);
    name = trimmed(name);
    if (field.size() != name.size()) return false;
    for (std::size_t i = 0; i < field.size(); ++i)
        if (lower(field[i]) != lower(name[i])) return false;
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
        for (const ColumnChoice& c : out) {
            if (c.role == role) {
                why = std::string("--columns names the ") + role_name(role) + " column twice";
                return false;
            }
        }
        out.push_back(ColumnChoice{role, std::string(name)});
    }
    if (out.empty()) {
        why = "--columns needs ROLE=NAME pairs (as in --columns date=Datum,close=Schluss)";
        return false;
    }
    return true;
}

}  // namespace tidemark::scan
