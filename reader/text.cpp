#include "text.h"

#include <cstdio>
#include <cstdlib>

#include "calendar.h"

namespace tidemark::reader {

std::string time_text(int64_t seconds, bool intraday) {
    const Civil c = civil_from_seconds(seconds);
    char text[48];
    if (!intraday) std::snprintf(text, sizeof text, "%04d-%02d-%02d", c.year, c.month, c.day);
    else if (c.second == 0)
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", c.year, c.month, c.day, c.hour, c.minute);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                      c.minute, c.second);
    return text;
}

std::string exact(double value) {
    char text[40];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

std::string shown(std::string_view field) {
    constexpr std::size_t kLongest = 40;
    std::string out;
    for (std::size_t i = 0; i < field.size() && i < kLongest; ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (field.size() > kLongest) out += "...";
    return out;
}

}  // namespace tidemark::reader
