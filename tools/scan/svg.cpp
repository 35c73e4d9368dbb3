// The chart. Plain SVG 1.1 with no scripts or external resources, so that any
// viewer or converter renders it the same.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "report.h"

namespace tidemark::scan {
namespace {

constexpr double kWidth = 1200, kHeight = 660;
constexpr double kLeft = 50, kRight = 78, kTop = 62, kBottom = 34;
constexpr double kPlotW = kWidth - kLeft - kRight, kPlotH = kHeight - kTop - kBottom;
// A candle needs a few pixels to look like one; longer series are grouped.
constexpr double kMinSlot = 4.0;

const char* const kUpFill = "#ffffff";
const char* const kDownFill = "#3a3f4b";
const char* const kCandleLine = "#3a3f4b";
const char* const kHighMark = "#d9480f";
const char* const kLowMark = "#1c7ed6";
const char* const kLevel = "#7048e8";
const char* const kClose = "#c2255c";

std::string num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                // Control characters are not allowed in XML 1.0 text.
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
        }
    }
    return out;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A step of 1, 2 or 5 times a power of ten giving about `ticks` ticks.
double nice_step(double span, int ticks) {
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

// Candles of one or more neighbouring bars.
struct Candle {
    std::size_t first, last;  // bar indices, inclusive
    double open, high, low, close;
};

// Time units for the date axis, coarsest first; a tick marks each bar that
// starts a new unit.
struct Unit {
    const char* name;
    int64_t (*key)(const Civil&, int64_t);
};
const Unit kUnits[] = {
    {"year", [](const Civil& c, int64_t) { return int64_t{c.year}; }},
    {"quarter", [](const Civil& c, int64_t) { return int64_t{c.year} * 4 + (c.month - 1) / 3; }},
    {"month", [](const Civil& c, int64_t) { return int64_t{c.year} * 12 + c.month - 1; }},
    {"day", [](const Civil&, int64_t t) { return (t - (t % 86400 + 86400) % 86400) / 86400; }},
    {"hour", [](const Civil&, int64_t t) { return (t - (t % 3600 + 3600) % 3600) / 3600; }},
    {"minute", [](const Civil&, int64_t t) { return (t - (t % 60 + 60) % 60) / 60; }},
};

std::string tick_label(const Unit& unit, const Civil& c) {
    char text[32];
    const std::string name = unit.name;
    if (name == "year") std::snprintf(text, sizeof text, "%04d", c.year);
    else if (name == "quarter" || name == "month")
        std::snprintf(text, sizeof text, "%04d-%02d", c.year, c.month);
    else if (name == "day") std::snprintf(text, sizeof text, "%04d-%02d-%02d", c.year, c.month, c.day);
    else std::snprintf(text, sizeof text, "%02d-%02d %02d:%02d", c.month, c.day, c.hour, c.minute);
    return text;
}

}  // namespace

std::string render_svg(const Run& run) {
    const std::vector<Bar>& bars = run.series.bars;
    const Analysis& a = run.analysis;
    const int dec = price_decimals(a.mean_range);
    const std::size_t n = bars.size();

    const std::size_t per_candle = std::max<std::size_t>(
        1, static_cast<std::size_t>(std::ceil(static_cast<double>(n) / (kPlotW / kMinSlot))));
    std::vector<Candle> candles;
    for (std::size_t i = 0; i < n; i += per_candle) {
        Candle c{i, std::min(n, i + per_candle) - 1, bars[i].open, bars[i].high, bars[i].low, 0};
        for (std::size_t j = c.first; j <= c.last; ++j) {
            c.high = std::max(c.high, bars[j].high);
            c.low = std::min(c.low, bars[j].low);
        }
        c.close = bars[c.last].close;
        candles.push_back(c);
    }
    const double slot = kPlotW / static_cast<double>(candles.size());
    const auto x_of_bar = [&](std::size_t i) {
        return kLeft + (static_cast<double>(i / per_candle) + 0.5) * slot;
    };

    double lo = bars[0].low, hi = bars[0].high;
    for (const Bar& b : bars) {
        lo = std::min(lo, b.low);
        hi = std::max(hi, b.high);
    }
    if (!(hi > lo)) {
        hi += 0.5;
        lo -= 0.5;
    }
    const double pad = (hi - lo) * 0.04;
    lo -= pad;
    hi += pad;
    const auto y_of = [&](double price) { return kTop + (hi - price) / (hi - lo) * kPlotH; };

    std::string s;
    s.reserve(200000);
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(kWidth) + "\" height=\"" +
         num(kHeight) + "\" viewBox=\"0 0 " + num(kWidth) + " " + num(kHeight) +
         "\" font-family=\"DejaVu Sans, Verdana, Arial, sans-serif\" font-size=\"11\">\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

    // Title and legend.
    const std::string name = run.input.substr(run.input.find_last_of("/\\") + 1);
    s += "<text x=\"" + num(kLeft) + "\" y=\"22\" font-size=\"15\" font-weight=\"bold\" fill=\"#212529\">" +
         escape(name) + ": " + std::to_string(n) + (run.series.intraday ? " bars, " : " daily bars, ") +
         escape(bars.front().stamp) + " to " + escape(bars.back().stamp) + "</text>\n";
    s += "<text x=\"" + num(kLeft) + "\" y=\"40\" fill=\"#495057\">" + std::to_string(a.levels.size()) +
         " levels merged from " + std::to_string(a.fractals.size()) + " fractals (depth " +
         std::to_string(a.settings.depth) + ", Hlop mode " + std::to_string(a.settings.mode) +
         ", tolerance " + fixed(a.tolerance, dec) +
         "); line thickness shows the weight after Resize, span " + std::to_string(a.settings.span) +
         (per_candle > 1 ? "; one candle per " + std::to_string(per_candle) + " bars" : "") +
         "</text>\n";
    const double ly = 54;
    s += "<g font-size=\"10\" fill=\"#495057\">";
    s += "<path d=\"M" + num(kLeft + 4) + " " + num(ly - 7) + "h8l-4 6z\" fill=\"" + kHighMark + "\"/>";
    s += "<text x=\"" + num(kLeft + 16) + "\" y=\"" + num(ly) + "\">fractal high</text>";
    s += "<path d=\"M" + num(kLeft + 94) + " " + num(ly - 1) + "h8l-4 -6z\" fill=\"" + kLowMark + "\"/>";
    s += "<text x=\"" + num(kLeft + 106) + "\" y=\"" + num(ly) + "\">fractal low</text>";
    s += "<line x1=\"" + num(kLeft + 178) + "\" y1=\"" + num(ly - 4) + "\" x2=\"" + num(kLeft + 198) +
         "\" y2=\"" + num(ly - 4) + "\" stroke=\"" + kLevel + "\" stroke-width=\"4\" stroke-opacity=\"0.6\"/>";
    s += "<text x=\"" + num(kLeft + 204) + "\" y=\"" + num(ly) + "\">merged level</text>";
    s += "<line x1=\"" + num(kLeft + 284) + "\" y1=\"" + num(ly - 4) + "\" x2=\"" + num(kLeft + 304) +
         "\" y2=\"" + num(ly - 4) + "\" stroke=\"" + kClose + "\" stroke-width=\"1.5\" stroke-dasharray=\"4 3\"/>";
    s += "<text x=\"" + num(kLeft + 310) + "\" y=\"" + num(ly) + "\">last close</text>";
    s += "</g>\n";

    // Price grid, labelled on the left; the right axis belongs to the levels.
    const double step = nice_step(hi - lo, 8);
    const int grid_dec = std::max(0, std::min(8, -static_cast<int>(std::floor(std::log10(step)))));
    s += "<g stroke=\"#e9ecef\" stroke-width=\"1\">";
    std::string labels = "<g fill=\"#495057\" font-size=\"10\">";
    for (double p = std::ceil(lo / step) * step; p <= hi; p += step) {
        const double y = y_of(p);
        s += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(y) + "\" x2=\"" + num(kLeft + kPlotW) +
             "\" y2=\"" + num(y) + "\"/>";
        labels += "<text x=\"" + num(kLeft - 5) + "\" y=\"" + num(y + 3.5) +
                  "\" text-anchor=\"end\">" + fixed(p, grid_dec) + "</text>";
    }
    // Date ticks: the finest unit that gives at most 20 of them.
    const Unit* unit = &kUnits[0];
    std::vector<std::size_t> ticks;
    for (const Unit& u : kUnits) {
        std::vector<std::size_t> at;
        int64_t prev = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const int64_t key = u.key(civil_from_seconds(bars[i].time), bars[i].time);
            if (i > 0 && key != prev) at.push_back(i);
            prev = key;
        }
        if (&u != &kUnits[0] && at.size() > 20) break;
        unit = &u;
        ticks = at;
    }
    double last_label = -1e9;
    for (std::size_t i : ticks) {
        const double x = x_of_bar(i);
        s += "<line x1=\"" + num(x) + "\" y1=\"" + num(kTop) + "\" x2=\"" + num(x) + "\" y2=\"" +
             num(kTop + kPlotH) + "\"/>";
        if (x - last_label < 60) continue;
        last_label = x;
        labels += "<text x=\"" + num(x) + "\" y=\"" + num(kTop + kPlotH + 16) +
                  "\" text-anchor=\"middle\">" + tick_label(*unit, civil_from_seconds(bars[i].time)) +
                  "</text>";
    }
    s += "</g>\n" + labels + "</g>\n";
    s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(kTop) + "\" width=\"" + num(kPlotW) +
         "\" height=\"" + num(kPlotH) + "\" fill=\"none\" stroke=\"#adb5bd\"/>\n";

    // Levels under the candles, so that the bars stay readable.
    // Heavier levels are drawn thicker and darker, so that the weak ones
    // recede.
    s += "<g stroke=\"" + std::string(kLevel) + "\">\n";
    for (std::size_t k = 0; k < a.levels.size(); ++k) {
        const Level& level = a.levels[k];
        const double y = y_of(level.price);
        const int w = std::max(0, std::min(level.weight, 20));
        char style[96];
        std::snprintf(style, sizeof style, "\" stroke-width=\"%.2f\" stroke-opacity=\"%.2f",
                      0.6 + 0.55 * w, std::min(0.75, 0.18 + 0.05 * w));
        s += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(y) + "\" x2=\"" + num(kLeft + kPlotW) +
             "\" y2=\"" + num(y) + style + "\"><title>level " +
             std::to_string(k) + ": " + fixed(level.price, dec) + ", weight " +
             std::to_string(level.weight) + ", " + std::to_string(level.fractals) +
             " fractals</title></line>\n";
    }
    s += "</g>\n";

    // Candlesticks.
    const double body = std::max(1.0, slot * 0.7);
    s += "<g stroke=\"" + std::string(kCandleLine) + "\" stroke-width=\"" +
         (slot < 4 ? "0.7" : "1") + "\">\n";
    for (std::size_t c = 0; c < candles.size(); ++c) {
        const Candle& k = candles[c];
        const double x = kLeft + (static_cast<double>(c) + 0.5) * slot;
        const double top = y_of(std::max(k.open, k.close));
        const double bottom = y_of(std::min(k.open, k.close));
        s += "<path d=\"M" + num(x) + " " + num(y_of(k.high)) + "V" + num(y_of(k.low)) + "\"/>";
        s += "<rect x=\"" + num(x - body / 2) + "\" y=\"" + num(top) + "\" width=\"" + num(body) +
             "\" height=\"" + num(std::max(0.8, bottom - top)) + "\" fill=\"" +
             (k.close >= k.open ? kUpFill : kDownFill) + "\"/>\n";
    }
    s += "</g>\n";

    // Fractal marks: per candle the strongest high above it and the strongest
    // low below it, sized by strength.
    std::vector<const Fractal*> high_mark(candles.size(), nullptr), low_mark(candles.size(), nullptr);
    for (const Fractal& f : a.fractals) {
        auto& slot_mark = f.up ? high_mark[f.bar / per_candle] : low_mark[f.bar / per_candle];
        if (slot_mark == nullptr || f.strength > slot_mark->strength ||
            (f.strength == slot_mark->strength &&
             (f.up ? f.price > slot_mark->price : f.price < slot_mark->price)))
            slot_mark = &f;
    }
    const double depth = std::max(1, a.settings.depth);
    s += "<g stroke=\"none\">\n";
    for (std::size_t c = 0; c < candles.size(); ++c) {
        const double x = kLeft + (static_cast<double>(c) + 0.5) * slot;
        for (const Fractal* f : {high_mark[c], low_mark[c]}) {
            if (f == nullptr) continue;
            const double r = 1.3 + 1.7 * f->strength / depth;
            const double y = y_of(f->price);
            if (f->up)
                s += "<path d=\"M" + num(x - r) + " " + num(y - 2 - 1.6 * r) + "h" + num(2 * r) + "l" +
                     num(-r) + " " + num(1.6 * r) + "z\" fill=\"" + kHighMark + "\"/>\n";
            else
                s += "<path d=\"M" + num(x - r) + " " + num(y + 2 + 1.6 * r) + "h" + num(2 * r) + "l" +
                     num(-r) + " " + num(-1.6 * r) + "z\" fill=\"" + kLowMark + "\"/>\n";
        }
    }
    s += "</g>\n";

    // Level prices on the right axis: heavier levels first, none
    // overlapping, none for the weakest.
    std::vector<std::size_t> order(a.levels.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
        return a.levels[x].weight > a.levels[y].weight;
    });
    std::vector<double> taken = {y_of(a.last_close)};
    s += "<g font-size=\"10\" font-weight=\"bold\">\n";
    for (std::size_t k : order) {
        if (a.levels[k].weight < 1 && a.levels.size() > 12) continue;
        const double y = y_of(a.levels[k].price);
        bool clear = true;
        for (double t : taken) clear = clear && std::fabs(t - y) >= 12;
        if (!clear) continue;
        taken.push_back(y);
        s += "<rect x=\"" + num(kLeft + kPlotW + 1) + "\" y=\"" + num(y - 6.5) + "\" width=\"" +
             num(kRight - 4) + "\" height=\"13\" fill=\"#ffffff\"/>";
        s += "<text x=\"" + num(kLeft + kPlotW + 6) + "\" y=\"" + num(y + 3.5) + "\" fill=\"" + kLevel +
             "\">" + fixed(a.levels[k].price, dec) + "</text>\n";
    }
    s += "</g>\n";

    // The last close, with its price boxed on the axis.
    const double cy = y_of(a.last_close);
    s += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(cy) + "\" x2=\"" + num(kLeft + kPlotW) +
         "\" y2=\"" + num(cy) + "\" stroke=\"" + kClose + "\" stroke-width=\"1.5\" stroke-dasharray=\"4 3\"/>\n";
    s += "<rect x=\"" + num(kLeft + kPlotW + 1) + "\" y=\"" + num(cy - 7.5) + "\" width=\"" +
         num(kRight - 4) + "\" height=\"15\" rx=\"2\" fill=\"" + kClose + "\"/>";
    s += "<text x=\"" + num(kLeft + kPlotW + 6) + "\" y=\"" + num(cy + 4) +
         "\" font-size=\"10\" font-weight=\"bold\" fill=\"#ffffff\">" + fixed(a.last_close, dec) +
         "</text>\n";
    const std::string where =
        a.close_level >= 0 ? "last close " + fixed(a.last_close, dec) + " is on level " +
                                 fixed(a.levels[static_cast<std::size_t>(a.close_level)].price, dec)
                           : "last close " + fixed(a.last_close, dec) + " is on no level";
    s += "<text x=\"" + num(kLeft + 6) + "\" y=\"" + num(cy < kTop + 20 ? cy + 15 : cy - 6) +
         "\" font-size=\"10\" fill=\"" + kClose + "\">" + where + "</text>\n";
    s += "</svg>\n";
    return s;
}

}  // namespace tidemark::scan
