#include "svg.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#include "format.h"

namespace tidemark::scan {
namespace {

constexpr double kWidth = 1200, kHeight = 660;
constexpr double kLeft = 50, kRight = 78, kTop = 62, kBottom = 34;
constexpr double kPlotW = kWidth - kLeft - kRight, kPlotH = kHeight - kTop - kBottom;
// A candle needs a few pixels to look like one; longer series are grouped.
constexpr double kMinSlot = 4.0;
// Date ticks: at most this many, labelled no closer than a label's width.
constexpr std::size_t kMostDateTicks = 20;

const char* const kUpFill = "#ffffff";
const char* const kDownFill = "#3a3f4b";
const char* const kCandleLine = "#3a3f4b";
const char* const kHighMark = "#d9480f";
const char* const kLowMark = "#1c7ed6";
const char* const kLevel = "#7048e8";
const char* const kClose = "#c2255c";
const char* const kHeld = "#2b8a3e";
const char* const kBroke = "#e03131";

// A coordinate: one decimal is finer than a pixel.
std::string num(double v) { return fixed(v, 1); }

// Text for XML: a name in a legacy encoding shows replacement characters
// instead of making the document invalid.
std::string escape(const std::string& s) {
    std::string out;
    for (char c : valid_utf8(s)) {
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

// A label's width in pixels at the labels' 10 px: wide enough for the
// widest digits of the fonts named, bold or not.
double label_width(const std::string& text) { return 7.0 * static_cast<double>(text.size()); }

// A step of 1, 2 or 5 times a power of ten giving about `ticks` ticks.
double nice_step(double span, int ticks) {
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

// Candles of one or more neighbouring bars.
struct Candle {
    std::size_t first, last;  // bar indices, inclusive
    double open, high, low, close;
};

// What every layer needs: the bars as candles, the price scale and the
// levels to draw.
struct Frame {
    explicit Frame(const Run& r)
        : run(r), bars(r.series.bars), a(r.analysis),
          style(price_style(r.analysis.mean_range, data_decimals(r.series.bars))) {}
    const Run& run;
    const std::vector<Bar>& bars;
    const Analysis& a;
    PriceStyle style;
    std::size_t per_candle = 1;
    std::vector<Candle> candles;
    double slot = 0;      // pixels per candle
    double lo = 0, hi = 0;  // prices at the bottom and top of the plot
    std::vector<std::size_t> levels;  // indices of the levels drawn, ascending
    // The widest price label on each side, in pixels: the chart widens to
    // hold it rather than cut it off.
    mutable double left_labels = 0, right_labels = 0;

    // Halves throughout, so that a span across the whole double range does
    // not overflow.
    double y(double price) const { return kTop + (hi / 2 - price / 2) / (hi / 2 - lo / 2) * kPlotH; }
    double x_of_candle(std::size_t c) const { return kLeft + (static_cast<double>(c) + 0.5) * slot; }
    double x_of_bar(std::size_t i) const { return x_of_candle(i / per_candle); }
};

// Heavy levels crowd where the price dwelt: beyond what fits, a level close
// to a heavier one adds a line but no information.
std::vector<std::size_t> levels_to_draw(const Frame& f) {
    const Analysis& a = f.a;
    if (f.run.levels_listed > 0) return heaviest_levels(a, f.run.levels_listed);
    if (a.levels.size() <= kLevelsThatFit) return heaviest_levels(a, 0);
    std::vector<std::size_t> kept;
    for (std::size_t k : levels_by_weight(a)) {
        const double y = f.y(a.levels[k].price);
        if (std::any_of(kept.begin(), kept.end(),
                        [&](std::size_t j) { return std::fabs(f.y(a.levels[j].price) - y) < kLevelGap; }))
            continue;
        kept.push_back(k);
        if (kept.size() == kLevelsThatFit) break;
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

Frame frame_of(const Run& run) {
    Frame f(run);
    const std::vector<Bar>& bars = f.bars;
    const std::size_t n = bars.size();
    f.per_candle = std::max<std::size_t>(
        1, static_cast<std::size_t>(std::ceil(static_cast<double>(n) / (kPlotW / kMinSlot))));
    for (std::size_t i = 0; i < n; i += f.per_candle) {
        Candle c{i, std::min(n, i + f.per_candle) - 1, bars[i].open, bars[i].high, bars[i].low, 0};
        for (std::size_t j = c.first; j <= c.last; ++j) {
            c.high = std::max(c.high, bars[j].high);
            c.low = std::min(c.low, bars[j].low);
        }
        c.close = bars[c.last].close;
        f.candles.push_back(c);
    }
    f.slot = kPlotW / static_cast<double>(f.candles.size());

    double lo = bars[0].low, hi = bars[0].high;
    for (const Bar& b : bars) {
        lo = std::min(lo, b.low);
        hi = std::max(hi, b.high);
    }
    if (!(hi > lo)) {
        hi += 0.5;
        lo -= 0.5;
    }
    // A span of a few ulps would give a grid step that adding cannot advance
    // and labels that all read the same: at least 64 ulps of the largest
    // price.
    const double largest = std::max(std::fabs(lo), std::fabs(hi));
    const double ulp = std::max(largest * DBL_EPSILON, DBL_MIN);
    if (hi / 2 - lo / 2 < 32 * ulp) {
        const double mid = lo / 2 + hi / 2;
        lo = mid - 32 * ulp;
        hi = mid + 32 * ulp;
    }
    const double pad = (hi / 2 - lo / 2) * 0.08;
    f.lo = std::max(-DBL_MAX, lo - pad);
    f.hi = std::min(DBL_MAX, hi + pad);

    f.levels = levels_to_draw(f);
    return f;
}

void draw_title(std::string& s, const Frame& f) {
    const Run& run = f.run;
    const Analysis& a = f.a;
    const std::string name = run.input.substr(run.input.find_last_of("/\\") + 1);
    const bool intraday = run.series.intraday;
    const std::string period = intraday ? "" : std::string(period_name(run.series.period)) + " ";
    s += "<text x=\"" + num(kLeft) + "\" y=\"22\" font-size=\"15\" font-weight=\"bold\" fill=\"#212529\">" +
         escape(name) + ": " + counted(f.bars.size(), period + "bar", period + "bars") + ", " +
         time_text(f.bars.front().time, intraday) + " to " + time_text(f.bars.back().time, intraday) + "</text>\n";
    std::string drawn;
    if (f.levels.size() < a.levels.size())
        drawn = ", the " + std::to_string(f.levels.size()) + " heaviest drawn" +
                (f.run.levels_listed > 0 ? "" : ", " + fixed(kLevelGap, 0) + " px apart");
    s += "<text x=\"" + num(kLeft) + "\" y=\"40\" fill=\"#495057\">" + counted(a.levels.size(), "level", "levels") +
         " merged from " + counted(a.fractals.size(), "fractal", "fractals") + " (depth " +
         std::to_string(a.settings.depth) + ", Hlop mode " + std::to_string(a.settings.mode) + ", tolerance " +
         price_text(a.tolerance, f.style) + ")" + drawn + "; thickness shows the weight after Resize, span " +
         std::to_string(a.settings.span) +
         (f.per_candle > 1 ? "; one candle per " + std::to_string(f.per_candle) + " bars" : "") + "</text>\n";

    // The legend, and on the same row, clear of the candles, where the last
    // close stands.
    const double ly = 54;
    s += "<g font-size=\"10\" fill=\"#495057\">";
    s += "<path d=\"M" + num(kLeft + 4) + " " + num(ly - 7) + "h8l-4 6z\" fill=\"" + kHighMark + "\"/>";
    s += "<text x=\"" + num(kLeft + 16) + "\" y=\"" + num(ly) + "\">fractal high</text>";
    s += "<path d=\"M" + num(kLeft + 94) + " " + num(ly - 1) + "h8l-4 -6z\" fill=\"" + kLowMark + "\"/>";
    s += "<text x=\"" + num(kLeft + 106) + "\" y=\"" + num(ly) + "\">fractal low</text>";
    s += "<line x1=\"" + num(kLeft + 178) + "\" y1=\"" + num(ly - 4) + "\" x2=\"" + num(kLeft + 198) + "\" y2=\"" +
         num(ly - 4) + "\" stroke=\"" + kLevel + "\" stroke-width=\"4\" stroke-opacity=\"0.6\"/>";
    s += "<text x=\"" + num(kLeft + 204) + "\" y=\"" + num(ly) + "\">merged level</text>";
    s += "<line x1=\"" + num(kLeft + 284) + "\" y1=\"" + num(ly - 4) + "\" x2=\"" + num(kLeft + 304) + "\" y2=\"" +
         num(ly - 4) + "\" stroke=\"" + kClose + "\" stroke-width=\"1.5\" stroke-dasharray=\"4 3\"/>";
    s += "<text x=\"" + num(kLeft + 310) + "\" y=\"" + num(ly) + "\">last close</text>";
    s += "<circle cx=\"" + num(kLeft + 378) + "\" cy=\"" + num(ly - 4) + "\" r=\"3\" fill=\"none\" stroke=\"" + kHeld +
         "\" stroke-width=\"1.5\"/>";
    s += "<text x=\"" + num(kLeft + 386) + "\" y=\"" + num(ly) + "\">level held</text>";
    s += "<path d=\"M" + num(kLeft + 452) + " " + num(ly - 7) + "l6 6m0 -6l-6 6\" stroke=\"" + kBroke +
         "\" stroke-width=\"1.8\"/>";
    s += "<text x=\"" + num(kLeft + 464) + "\" y=\"" + num(ly) + "\">level broken</text>";
    s += "</g>\n";
    const std::string close = price_text(a.last_close, f.style);
    const std::string where =
        a.close_level >= 0 ? "last close " + close + " is on level " +
                                 price_text(a.levels[static_cast<std::size_t>(a.close_level)].price, f.style)
                           : "last close " + close + " is on no level";
    s += "<text x=\"" + num(kLeft + kPlotW) + "\" y=\"" + num(ly) + "\" text-anchor=\"end\" font-size=\"10\" fill=\"" +
         kClose + "\">" + where + "</text>\n";
}

// Grid lines go into s, their labels into labels (drawn over the lines).
void draw_price_grid(std::string& s, std::string& labels, const Frame& f) {
    const double half_span = f.hi / 2 - f.lo / 2;
    const double step = std::isfinite(f.hi - f.lo) ? nice_step(f.hi - f.lo, 8) : 2 * nice_step(half_span, 8);
    // Ticks are counted as integers: adding a step too small for the price
    // would never advance.
    const double first = std::ceil(f.lo / step), last = std::floor(f.hi / step);
    const double count = std::min(100.0, last - first + 1);
    const int exponent = static_cast<int>(std::floor(std::log10(step)));
    PriceStyle style;
    style.decimals = std::max(0, -exponent);
    if (style.decimals > 8) {
        style.significant = true;
        style.range_exponent = exponent + 2;
    }
    for (double k = 0; k < count; ++k) {
        const double p = (first + k) * step;
        const double y = f.y(p);
        s += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(y) + "\" x2=\"" + num(kLeft + kPlotW) + "\" y2=\"" +
             num(y) + "\"/>";
        const std::string text = price_text(p, style);
        f.left_labels = std::max(f.left_labels, label_width(text));
        labels += "<text x=\"" + num(kLeft - 5) + "\" y=\"" + num(y + 3.5) + "\" text-anchor=\"end\">" + text +
                  "</text>";
    }
}

// Time units for the date axis, coarsest first; a tick marks each bar that
// starts a new unit.
struct Unit {
    const char* name;
    bool intraday;  // finer than a day
    int64_t (*key)(const Civil&, int64_t);
};
const Unit kUnits[] = {
    {"year", false, [](const Civil& c, int64_t) { return int64_t{c.year}; }},
    {"quarter", false, [](const Civil& c, int64_t) { return int64_t{c.year} * 4 + (c.month - 1) / 3; }},
    {"month", false, [](const Civil& c, int64_t) { return int64_t{c.year} * 12 + c.month - 1; }},
    {"day", false, [](const Civil&, int64_t t) { return (t - (t % 86400 + 86400) % 86400) / 86400; }},
    {"hour", true, [](const Civil&, int64_t t) { return (t - (t % 3600 + 3600) % 3600) / 3600; }},
    {"minute", true, [](const Civil&, int64_t t) { return (t - (t % 60 + 60) % 60) / 60; }},
};

// Every label carries the year, so that a short series is still placed; on
// an intraday chart every label also carries the time of day of its bar,
// whatever the unit (a day starts at the session's first bar, not at 00:00).
std::string tick_label(const Unit& unit, int64_t t, bool intraday) {
    const Civil c = civil_from_seconds(t);
    const std::string name = unit.name;
    char text[48];
    if (intraday)
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", c.year, c.month, c.day, c.hour, c.minute);
    else if (name == "year") std::snprintf(text, sizeof text, "%04d", c.year);
    else if (name == "quarter" || name == "month") std::snprintf(text, sizeof text, "%04d-%02d", c.year, c.month);
    else if (name == "day") std::snprintf(text, sizeof text, "%04d-%02d-%02d", c.year, c.month, c.day);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", c.year, c.month, c.day, c.hour, c.minute);
    return text;
}

void draw_date_grid(std::string& s, std::string& labels, const Frame& f) {
    // The finest unit that gives at most kMostDateTicks ticks; a series of
    // dates alone never goes finer than a day.
    const std::size_t n = f.bars.size();
    const Unit* unit = &kUnits[0];
    std::vector<std::size_t> ticks;
    for (const Unit& u : kUnits) {
        if (u.intraday && !f.run.series.intraday) break;
        std::vector<std::size_t> at;
        int64_t prev = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const int64_t key = u.key(civil_from_seconds(f.bars[i].time), f.bars[i].time);
            if (i > 0 && key != prev) at.push_back(i);
            prev = key;
        }
        if (&u != &kUnits[0] && at.size() > kMostDateTicks) {
            // Too many of this unit, too few of the last (a month of
            // sessions: no month starts, 28 days): every k-th of these.
            if (ticks.size() < 2) {
                const std::size_t stride = (at.size() + kMostDateTicks - 1) / kMostDateTicks;
                unit = &u;
                ticks.clear();
                for (std::size_t k = 0; k < at.size(); k += stride) ticks.push_back(at[k]);
            }
            break;
        }
        unit = &u;
        ticks = at;
    }
    // Ticks of days or finer label full dates: the first bar's goes first,
    // so that a short series (a few bars, none starting a new unit after
    // the first) still says where it starts.
    if ((std::strcmp(unit->name, "day") == 0 || unit->intraday) && n > 0 && (ticks.empty() || ticks.front() != 0))
        ticks.insert(ticks.begin(), 0);
    const bool intraday = f.run.series.intraday;
    const double label_width = intraday ? 100 : 60;
    double last_label = -1e9;
    for (std::size_t i : ticks) {
        const double x = f.x_of_bar(i);
        s += "<line x1=\"" + num(x) + "\" y1=\"" + num(kTop) + "\" x2=\"" + num(x) + "\" y2=\"" + num(kTop + kPlotH) +
             "\"/>";
        if (x - last_label < label_width) continue;
        last_label = x;
        labels += "<text x=\"" + num(x) + "\" y=\"" + num(kTop + kPlotH + 16) + "\" text-anchor=\"middle\">" +
                  tick_label(*unit, f.bars[i].time, intraday) + "</text>";
    }
}

void draw_grid(std::string& s, const Frame& f) {
    // Price grid labelled on the left: the right axis belongs to the levels.
    s += "<g stroke=\"#e9ecef\" stroke-width=\"1\">";
    std::string labels = "<g fill=\"#495057\" font-size=\"10\">";
    draw_price_grid(s, labels, f);
    draw_date_grid(s, labels, f);
    s += "</g>\n" + labels + "</g>\n";
    s += "<rect x=\"" + num(kLeft) + "\" y=\"" + num(kTop) + "\" width=\"" + num(kPlotW) + "\" height=\"" +
         num(kPlotH) + "\" fill=\"none\" stroke=\"#adb5bd\"/>\n";
}

// Under the candles, so that the bars stay readable; heavier levels thicker
// and darker, so that the weak ones recede. A level with a track record
// starts at the bar it formed at.
void draw_levels(std::string& s, const Frame& f) {
    const bool track = f.a.records.size() == f.a.levels.size();
    s += "<g stroke=\"" + std::string(kLevel) + "\">\n";
    for (std::size_t k : f.levels) {
        const Level& level = f.a.levels[k];
        const double y = f.y(level.price);
        const int w = std::max(0, std::min(level.weight, 20));
        // The level's track record, when it has one that starts somewhere.
        const TrackRecord* r = track && f.a.records[k].formed >= 0 ? &f.a.records[k] : nullptr;
        const auto formed = r != nullptr ? static_cast<std::size_t>(r->formed) : 0;
        const double x = r != nullptr ? f.x_of_bar(formed) - f.slot / 2 : kLeft;
        char style[96];
        std::snprintf(style, sizeof style, "\" stroke-width=\"%.2f\" stroke-opacity=\"%.2f", 0.6 + 0.55 * w,
                      std::min(0.75, 0.18 + 0.05 * w));
        std::string title = "level " + std::to_string(k) + ": " + price_text(level.price, f.style) + ", weight " +
                            std::to_string(level.weight) + ", " +
                            counted(static_cast<std::size_t>(level.fractals), "fractal", "fractals");
        if (r != nullptr)
            title += ", formed " + time_text(f.bars[formed].time, f.run.series.intraday) + "; " +
                     counted(static_cast<std::size_t>(r->touches), "touch", "touches") + ", " +
                     std::to_string(r->held) + " held, " + std::to_string(r->broke) + " broke";
        s += "<line x1=\"" + num(x) + "\" y1=\"" + num(y) + "\" x2=\"" + num(kLeft + kPlotW) + "\" y2=\"" + num(y) +
             style + "\"><title>" + title + "</title></line>\n";
    }
    s += "</g>\n";
}

// On each level drawn, per candle, a break (a cross) or else a touch that
// held (a ring): a trader sees at a glance which levels held.
void draw_touches(std::string& s, const Frame& f) {
    if (f.a.records.size() != f.a.levels.size()) return;
    const double r = std::max(1.5, std::min(3.0, f.slot / 2));
    std::string held, broke;
    for (std::size_t k : f.levels) {
        const double price = f.a.levels[k].price;
        const double y = f.y(price);
        std::size_t last_candle = SIZE_MAX;
        Touch last = Touch::neither;
        const auto mark = [&] {
            if (last_candle == SIZE_MAX || last == Touch::neither) return;
            const double x = f.x_of_candle(last_candle);
            if (last == Touch::broke)
                broke += "<path d=\"M" + num(x - r) + " " + num(y - r) + "l" + num(2 * r) + " " + num(2 * r) + "m0 " +
                         num(-2 * r) + "l" + num(-2 * r) + " " + num(2 * r) + "\"/>";
            else
                held += "<circle cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" r=\"" + num(r) + "\"/>";
        };
        for (const TouchAt& t : touches_of(f.bars, price, f.a.records[k].formed, f.a.tolerance)) {
            const std::size_t candle = t.bar / f.per_candle;
            if (candle != last_candle) {
                mark();
                last_candle = candle;
                last = Touch::neither;
            }
            if (t.what == Touch::broke || (t.what == Touch::held && last == Touch::neither)) last = t.what;
        }
        mark();
    }
    s += "<g fill=\"none\" stroke=\"" + std::string(kHeld) + "\" stroke-width=\"1.2\">" + held + "</g>\n";
    s += "<g stroke=\"" + std::string(kBroke) + "\" stroke-width=\"1.6\">" + broke + "</g>\n";
}

void draw_candles(std::string& s, const Frame& f) {
    const double body = std::max(1.0, f.slot * 0.7);
    s += "<g stroke=\"" + std::string(kCandleLine) + "\" stroke-width=\"" + (f.slot < 4 ? "0.7" : "1") + "\">\n";
    for (std::size_t c = 0; c < f.candles.size(); ++c) {
        const Candle& k = f.candles[c];
        const double x = f.x_of_candle(c);
        const double top = f.y(std::max(k.open, k.close));
        const double bottom = f.y(std::min(k.open, k.close));
        s += "<path d=\"M" + num(x) + " " + num(f.y(k.high)) + "V" + num(f.y(k.low)) + "\"/>";
        s += "<rect x=\"" + num(x - body / 2) + "\" y=\"" + num(top) + "\" width=\"" + num(body) + "\" height=\"" +
             num(std::max(0.8, bottom - top)) + "\" fill=\"" + (k.close >= k.open ? kUpFill : kDownFill) + "\"/>\n";
    }
    s += "</g>\n";
}

// Per candle the strongest high above it and the strongest low below it,
// sized by strength.
void draw_fractals(std::string& s, const Frame& f) {
    std::vector<const Fractal*> high_mark(f.candles.size(), nullptr), low_mark(f.candles.size(), nullptr);
    for (const Fractal& fr : f.a.fractals) {
        auto& mark = fr.up ? high_mark[fr.bar / f.per_candle] : low_mark[fr.bar / f.per_candle];
        if (mark == nullptr || fr.strength > mark->strength ||
            (fr.strength == mark->strength && (fr.up ? fr.price > mark->price : fr.price < mark->price)))
            mark = &fr;
    }
    const double depth = std::max(1, f.a.settings.depth);
    s += "<g stroke=\"none\">\n";
    for (std::size_t c = 0; c < f.candles.size(); ++c) {
        const double x = f.x_of_candle(c);
        for (const Fractal* fr : {high_mark[c], low_mark[c]}) {
            if (fr == nullptr) continue;
            const double r = 1.3 + 1.7 * fr->strength / depth;
            const double y = f.y(fr->price);
            if (fr->up)
                s += "<path d=\"M" + num(x - r) + " " + num(y - 2 - 1.6 * r) + "h" + num(2 * r) + "l" + num(-r) + " " +
                     num(1.6 * r) + "z\" fill=\"" + kHighMark + "\"/>\n";
            else
                s += "<path d=\"M" + num(x - r) + " " + num(y + 2 + 1.6 * r) + "h" + num(2 * r) + "l" + num(-r) + " " +
                     num(-1.6 * r) + "z\" fill=\"" + kLowMark + "\"/>\n";
        }
    }
    s += "</g>\n";
}

// The width of the box of a label right of the plot (a level's price, the
// last close), kept in f so that the chart widens to hold it.
double right_label_width(const Frame& f, const std::string& text) {
    const double width = std::max(kRight - 4, label_width(text) + 10);
    f.right_labels = std::max(f.right_labels, width + 4);
    return width;
}

// Level prices on the right axis: heavier levels first, none overlapping
// another or the last close's box, none for the weakest of many.
void draw_level_labels(std::string& s, const Frame& f) {
    std::vector<std::size_t> order = f.levels;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t x, std::size_t y) { return f.a.levels[x].weight > f.a.levels[y].weight; });
    std::vector<double> taken = {f.y(f.a.last_close)};
    s += "<g font-size=\"10\" font-weight=\"bold\">\n";
    for (std::size_t k : order) {
        if (f.a.levels[k].weight < 1 && order.size() > 12) continue;
        const double y = f.y(f.a.levels[k].price);
        if (std::any_of(taken.begin(), taken.end(), [&](double t) { return std::fabs(t - y) < 12; })) continue;
        taken.push_back(y);
        const std::string text = price_text(f.a.levels[k].price, f.style);
        const double width = right_label_width(f, text);
        s += "<rect x=\"" + num(kLeft + kPlotW + 1) + "\" y=\"" + num(y - 6.5) + "\" width=\"" + num(width) +
             "\" height=\"13\" fill=\"#ffffff\"/>";
        s += "<text x=\"" + num(kLeft + kPlotW + 6) + "\" y=\"" + num(y + 3.5) + "\" fill=\"" + kLevel + "\">" + text +
             "</text>\n";
    }
    s += "</g>\n";
}

// The last close, with its price boxed on the axis.
void draw_last_close(std::string& s, const Frame& f) {
    const double cy = f.y(f.a.last_close);
    s += "<line x1=\"" + num(kLeft) + "\" y1=\"" + num(cy) + "\" x2=\"" + num(kLeft + kPlotW) + "\" y2=\"" + num(cy) +
         "\" stroke=\"" + kClose + "\" stroke-width=\"1.5\" stroke-dasharray=\"4 3\"/>\n";
    const std::string text = price_text(f.a.last_close, f.style);
    const double width = right_label_width(f, text);
    s += "<rect x=\"" + num(kLeft + kPlotW + 1) + "\" y=\"" + num(cy - 7.5) + "\" width=\"" + num(width) +
         "\" height=\"15\" rx=\"2\" fill=\"" + kClose + "\"/>";
    s += "<text x=\"" + num(kLeft + kPlotW + 6) + "\" y=\"" + num(cy + 4) +
         "\" font-size=\"10\" font-weight=\"bold\" fill=\"#ffffff\">" + text + "</text>\n";
}

}  // namespace

std::string render_svg(const Run& run) {
    const Frame f = frame_of(run);
    std::string body;
    body.reserve(200000);
    draw_title(body, f);
    draw_grid(body, f);
    draw_levels(body, f);
    draw_candles(body, f);
    draw_fractals(body, f);
    draw_touches(body, f);
    draw_level_labels(body, f);
    draw_last_close(body, f);
    // Labels wider than the margins widen the chart, so that none is cut
    // off whatever the prices' magnitude.
    const double extra_left = std::max(0.0, std::ceil(f.left_labels - (kLeft - 7)));
    const double extra_right = std::max(0.0, std::ceil(f.right_labels - kRight));
    const double width = kWidth + extra_left + extra_right;
    std::string s;
    s.reserve(body.size() + 600);
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(width) + "\" height=\"" + num(kHeight) +
         "\" viewBox=\"0 0 " + num(width) + " " + num(kHeight) +
         "\" font-family=\"DejaVu Sans, Verdana, Arial, sans-serif\" font-size=\"11\">\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    if (extra_left > 0) s += "<g transform=\"translate(" + num(extra_left) + ",0)\">\n";
    s += body;
    if (extra_left > 0) s += "</g>\n";
    s += "</svg>\n";
    return s;
}

}  // namespace tidemark::scan
