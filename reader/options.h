// How a caller spells the options the reader's messages name: the command's
// "--dates dmy" by default; a front end that takes keywords (Python's
// dates="dmy") sets its own, so that every message points at what its user
// types.
#ifndef TIDEMARK_READER_OPTIONS_H
#define TIDEMARK_READER_OPTIONS_H

#include <string>
#include <utility>
#include <vector>

namespace tidemark::reader {

struct OptionSpelling {
    std::string dates = "--dates";
    std::string columns = "--columns";
    std::string symbol = "--symbol";
    std::string from = "--from";
    std::string to = "--to";
    // Keywords: an option and its value are written name='value' (and the
    // columns as a dict, {'date': 'Datum', ...}); else "--dates dmy" and
    // "--columns date=Datum,...".
    bool keywords = false;

    // An option with its value; a placeholder such as NAME is not quoted.
    std::string with(const std::string& option, const std::string& value, bool placeholder = false) const;
    // The columns option naming columns: pairs of role and name.
    std::string columns_with(const std::vector<std::pair<std::string, std::string>>& pairs,
                             bool placeholders = false) const;
};

// The command's spelling, for callers that give none.
const OptionSpelling& command_spelling();

}  // namespace tidemark::reader

#endif
