#include "text.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "calendar.h"

namespace tidemark::reader {

std::string time_text(int64_t seconds, bool intraday) {
    const Civil c = civil_from_seconds(seconds);
    char text[48];
    int n = 0;
    if (!intraday)
        n = std::snprintf(text, sizeof text, "%04d-%02d-%02d", c.year, c.month, c.day);
    else if (c.second == 0)
        n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", c.year, c.month, c.day, c.hour, c.minute);
    else
        n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                          c.minute, c.second);
    return n > 0 ? std::string(text) : std::string();
}

std::string exact(double value) {
    char text[40];
    for (int precision = 15; precision <= 17; ++precision) {
        if (std::snprintf(text, sizeof text, "%.*g", precision, value) <= 0) return std::string();
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

std::string shown(std::string_view field) {
    constexpr std::size_t kLongest = 40;
    // Not as bytes that would make the message invalid UTF-8.
    std::string decoded;
    field = as_utf8(field, decoded);
    std::string out;
    std::size_t i = 0;
    // Whole characters only: a cut inside one would leave invalid UTF-8.
    for (std::size_t n = 1; i < field.size() && i < kLongest; i += n) {
        n = std::max<std::size_t>(1, utf8_sequence(field, i));
        const auto c = static_cast<unsigned char>(field[i]);
        if (c < 0x20 || c == 0x7F) {
            static const char kHex[] = "0123456789ABCDEF";
            const char esc[] = {'\\', 'x', kHex[c >> 4], kHex[c & 15], '\0'};
            out += esc;
        } else {
            out.append(field.data() + i, n);
        }
    }
    if (i < field.size()) out += "...";
    return out;
}

std::string shown_list(const std::vector<std::string>& names, bool more) {
    constexpr std::size_t kMost = 12;
    std::string list;
    for (std::size_t k = 0; k < names.size() && k < kMost; ++k) list += (k == 0 ? "" : ", ") + shown(names[k]);
    return more || names.size() > kMost ? list + ", ..." : list;
}

std::string_view as_utf8(std::string_view text, std::string& storage) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_sequence(text, i);
        if (n == 0) {
            storage = from_windows_1252(text);
            return storage;
        }
        i += n;
    }
    return text;
}

std::string from_windows_1252(std::string_view text) {
    // 0x80 ... 0x9F; the five bytes the code page leaves undefined become U+FFFD.
    static const uint16_t kHigh[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                       0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        append_utf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
    }
    return out;
}

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::size_t utf8_sequence(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return length;
}

std::string valid_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8_sequence(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(text.data() + i, n);
            i += n;
        }
    }
    return out;
}

}  // namespace tidemark::reader
