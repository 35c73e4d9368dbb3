#include "format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tidemark::scan {

std::string fixed(double value, int decimals) {
    char text[400];  // %.8f of the largest double is 318 characters
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
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

int price_decimals(double mean_range) {
    if (!(mean_range > 0) || !std::isfinite(mean_range)) return 2;
    const int d = 2 - static_cast<int>(std::floor(std::log10(mean_range)));
    return std::max(2, std::min(8, d));
}

PriceStyle price_style(double mean_range) {
    PriceStyle style;
    style.decimals = price_decimals(mean_range);
    if (mean_range > 0 && std::isfinite(mean_range)) {
        style.range_exponent = static_cast<int>(std::floor(std::log10(mean_range)));
        style.significant = 2 - style.range_exponent > 8;
    }
    return style;
}

std::string price_text(double value, const PriceStyle& style) {
    if (!style.significant || value == 0 || !std::isfinite(value)) return fixed(value, style.decimals);
    // Down to two digits below the bars' range, as the fixed form shows them.
    const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    const int digits = std::max(3, std::min(17, magnitude - style.range_exponent + 3));
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    return text;
}

bool leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leap_year(year) ? 29 : kDays[month - 1];
}

int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second) {
    // Days from 1970-01-01 to the date in the proleptic Gregorian calendar.
    const int64_t y = month <= 2 ? int64_t{year} - 1 : year;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

Civil civil_from_seconds(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // The inverse of utc_seconds.
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return Civil{static_cast<int>(y), static_cast<int>(m), static_cast<int>(d),
                 static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                 static_cast<int>(rest % 60)};
}

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

namespace {

// The first code point of a UTF-8 sequence at text[i], and its length; a
// byte that starts no valid sequence counts as one character.
uint32_t code_point(const std::string& text, std::size_t i, std::size_t& length) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (i + length > text.size()) length = 1;
    if (length == 1) return lead;
    uint32_t cp = lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            length = 1;
            return lead;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    return cp;
}

bool wide(uint32_t cp) {
    return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
           (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
           (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

}  // namespace

std::size_t display_width(const std::string& text) {
    std::size_t width = 0;
    for (std::size_t i = 0, length = 1; i < text.size(); i += length)
        width += wide(code_point(text, i, length)) ? 2 : 1;
    return width;
}

std::string padded(const std::string& text, std::size_t width, bool left_aligned) {
    const std::size_t w = display_width(text);
    const std::string fill(w < width ? width - w : 0, ' ');
    return left_aligned ? text + fill : fill + text;
}

std::string milliseconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1000.0);
    return text;
}

}  // namespace tidemark::scan
