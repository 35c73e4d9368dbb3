#include "options.h"

namespace tidemark::reader {

std::string OptionSpelling::with(const std::string& option, const std::string& value, bool placeholder) const {
    if (!keywords) return option + " " + value;
    return option + "=" + (placeholder ? value : "'" + value + "'");
}

std::string OptionSpelling::columns_with(const std::vector<std::pair<std::string, std::string>>& pairs,
                                         bool placeholders) const {
    std::string list;
    for (const auto& [role, name] : pairs) {
        if (keywords) {
            list += list.empty() ? "{'" : ", '";
            list += role;
            list += "': ";
            list += placeholders ? name : "'" + name + "'";
        } else {
            list += list.empty() ? "" : ",";
            list += role;
            list += '=';
            list += name;
        }
    }
    if (keywords) return columns + "=" + list + "}";
    return columns + " " + list;
}

const OptionSpelling& command_spelling() {
    static const OptionSpelling kCommand;
    return kCommand;
}

}  // namespace tidemark::reader
