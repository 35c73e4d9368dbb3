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
