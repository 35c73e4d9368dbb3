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

int data_decimals(const std::vector<Bar>& bars, std::size_t last) {
    static const double kScale[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
    int most = 0;
    for (std::size_t i = bars.size() - std::min(last, bars.size()); i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        for (const double price : {bar.open, bar.high, bar.low, bar.close}) {
            // The fewest decimals that give the price back, up to rounding.
            while (most < 8) {
                const double scaled = price * kScale[most];
                if (std::fabs(scaled - std::nearbyint(scaled)) <= 1e-9 * std::max(1.0, std::fabs(scaled))) break;
                ++most;
            }
            if (most == 8) return most;
        }
    }
    return most;
}

PriceStyle price_style(double mean_range, int data_decimals) {
    PriceStyle style;
    style.decimals = std::min(price_decimals(mean_range), std::max(2, data_decimals));
    if (mean_range > 0 && std::isfinite(mean_range)) {
        style.range_exponent = static_cast<int>(std::floor(std::log10(mean_range)));
        style.significant = 2 - style.range_exponent > 8;
    }
    return style;
}

std::string price_text(double value, const PriceStyle& style) {
    // Zero among significant digits: fixed() with the decimals of a
    // subnormal step printed three hundred zeros.
    if (style.significant && value == 0) return fixed(value, std::min(style.decimals, 8));
    if (!style.significant || !std::isfinite(value)) return fixed(value, style.decimals);
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

std::string counted(std::size_t n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string milliseconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1000.0);
    return text;
}

}  // namespace tidemark::scan
