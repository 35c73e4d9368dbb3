#include "report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tidemark::scan {
namespace {

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string milliseconds(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f ms", seconds * 1000.0);
    return text;
}

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

const char* mode_text(int32_t mode) {
    switch (mode) {
        case 1: return "weights add";
        case 2: return "weights add, price is the weighted mean";
        default: return "the heavier level keeps its weight";
    }
}

std::string tolerance_text(const Analysis& a, int decimals) {
    if (a.tolerance_given) return fixed(a.tolerance, decimals) + " (given)";
    return fixed(a.tolerance, decimals) + " (" + fixed(kToleranceShare, 1) +
           " x the mean bar range " + fixed(a.mean_range, decimals) + ")";
}

// Where the last close sits, in one sentence.
std::string close_text(const Run& run, int decimals) {
    const Analysis& a = run.analysis;
    const std::string close = "last close " + fixed(a.last_close, decimals) + " (" +
                              run.series.bars.back().stamp + ")";
    if (a.close_level >= 0) {
        const Level& level = a.levels[static_cast<std::size_t>(a.close_level)];
        return close + " is at level " + std::to_string(a.close_level) + ", " +
               fixed(level.price, decimals) + ": " +
               fixed(std::fabs(a.last_close - level.price), decimals) + " away, within " +
               fixed(a.tolerance, decimals);
    }
    const Level* below = nullptr;
    const Level* above = nullptr;
    for (const Level& level : a.levels) {
        if (level.price <= a.last_close) below = &level;
        else if (above == nullptr) above = &level;
    }
    std::string where = close + " is at no level within " + fixed(a.tolerance, decimals);
    if (below != nullptr) where += "; nearest below " + fixed(below->price, decimals);
    if (above != nullptr) where += "; nearest above " + fixed(above->price, decimals);
    return where;
}

}  // namespace

std::string exact(double value) {
    char text[40];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

int price_decimals(double mean_range) {
    if (!(mean_range > 0)) return 2;
    const int d = 2 - static_cast<int>(std::floor(std::log10(mean_range)));
    return std::max(2, std::min(8, d));
}

Civil civil_from_seconds(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Inverse of the days-from-civil computation in bars.cpp.
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

void write_report(std::FILE* out, const Run& run) {
    const Analysis& a = run.analysis;
    const std::vector<Bar>& bars = run.series.bars;
    const int dec = price_decimals(a.mean_range);
    const std::size_t candidates = a.fractals.size();

    std::fprintf(out, "tidemark-scan: %s\n", run.input.c_str());
    std::fprintf(out, "  bars       %zu %s bars, %s to %s\n", bars.size(),
                 run.series.intraday ? "intraday" : "daily", bars.front().stamp.c_str(),
                 bars.back().stamp.c_str());
    std::fprintf(out, "  library    %s\n", run.library.c_str());
    std::fprintf(out,
                 "  fractals   CheckUpFractal/CheckDownFractal, depth %d: %d highs and %d lows of "
                 "strength 1 or more\n",
                 a.settings.depth, a.up_count, a.down_count);
    std::fprintf(out, "  tolerance  %s\n", tolerance_text(a, dec).c_str());
    std::fprintf(out, "  merge      Hlop mode %d (%s): %zu candidates -> %zu levels\n",
                 a.settings.mode, mode_text(a.settings.mode), candidates, a.levels.size());
    std::fprintf(out, "  weights    Resize span %d\n", a.settings.span);
    std::fputc('\n', out);

    if (a.levels.empty()) {
        std::fprintf(out, "  no levels: no bar is a fractal of depth %d (%d bars on each side)\n",
                     a.settings.depth, a.settings.depth);
    } else {
        const int price_width =
            std::max(8, static_cast<int>(fixed(a.levels.back().price, dec).size()) + 1);
        std::fprintf(out, "  level %*s  weight              merged  %s\n", price_width, "price",
                     a.counts_exact ? "fractals" : "fractals (nearest level)");
        const std::string close_row = "  -----> " + fixed(a.last_close, dec) + "  last close, " +
                                      bars.back().stamp + "\n";
        bool close_shown = a.close_level >= 0;
        for (std::size_t k = a.levels.size(); k-- > 0;) {
            const Level& level = a.levels[k];
            if (!close_shown && level.price < a.last_close) {
                std::fputs(close_row.c_str(), out);
                close_shown = true;
            }
            const int bar_len = std::max(0, std::min(level.weight, 40));
            std::fprintf(out, "  %5zu %*s  %6d %-12s %6d  %8d%s\n", k, price_width,
                         fixed(level.price, dec).c_str(), level.weight,
                         std::string(static_cast<std::size_t>(bar_len), '#').c_str(),
                         level.merged_weight, level.fractals,
                         static_cast<int32_t>(k) == a.close_level ? "   <- last close" : "");
        }
        if (!close_shown) std::fputs(close_row.c_str(), out);
        std::fprintf(out,
                     "  (weight: after Resize; merged: as Hlop wrote it back; fractals: how many fed "
                     "the level)\n");
    }
    std::fputc('\n', out);
    std::fprintf(out, "  CheckLevel %s\n", close_text(run, dec).c_str());
    if (a.timed) {
        std::fprintf(out, "  time       %s for the whole run (stopwatch exports): fractals %s, Hlop %s\n",
                     milliseconds(a.seconds_total).c_str(), milliseconds(a.seconds_fractals).c_str(),
                     milliseconds(a.seconds_merge).c_str());
    } else {
        std::fprintf(out, "  time       not measured: the stopwatch could not be started\n");
    }
}

void write_json(std::FILE* out, const Run& run) {
    const Analysis& a = run.analysis;
    const std::vector<Bar>& bars = run.series.bars;
    std::fprintf(out, "{\n");
    std::fprintf(out, "  \"input\": %s,\n", json_string(run.input).c_str());
    std::fprintf(out, "  \"library\": %s,\n", json_string(run.library).c_str());
    std::fprintf(out, "  \"bars\": %zu,\n", bars.size());
    std::fprintf(out, "  \"first\": %s,\n", json_string(bars.front().stamp).c_str());
    std::fprintf(out, "  \"last\": %s,\n", json_string(bars.back().stamp).c_str());
    std::fprintf(out, "  \"depth\": %d,\n", a.settings.depth);
    std::fprintf(out, "  \"mode\": %d,\n", a.settings.mode);
    std::fprintf(out, "  \"span\": %d,\n", a.settings.span);
    std::fprintf(out, "  \"mean_range\": %s,\n", exact(a.mean_range).c_str());
    std::fprintf(out, "  \"tolerance\": %s,\n", exact(a.tolerance).c_str());
    std::fprintf(out, "  \"tolerance_rule\": %s,\n",
                 a.tolerance_given ? "\"given\""
                                   : ("\"" + exact(kToleranceShare) + " x mean_range\"").c_str());
    std::fprintf(out, "  \"up_fractals\": %d,\n", a.up_count);
    std::fprintf(out, "  \"down_fractals\": %d,\n", a.down_count);
    std::fprintf(out, "  \"candidates\": %zu,\n", a.fractals.size());
    std::fprintf(out, "  \"fractal_counts\": \"%s\",\n", a.counts_exact ? "exact" : "nearest");
    std::fprintf(out, "  \"levels\": [");
    for (std::size_t k = 0; k < a.levels.size(); ++k) {
        const Level& level = a.levels[k];
        std::fprintf(out,
                     "%s\n    {\"index\": %zu, \"price\": %s, \"merged_weight\": %d, "
                     "\"weight\": %d, \"fractals\": %d}",
                     k == 0 ? "" : ",", k, exact(level.price).c_str(), level.merged_weight,
                     level.weight, level.fractals);
    }
    std::fprintf(out, "%s],\n", a.levels.empty() ? "" : "\n  ");
    std::fprintf(out, "  \"last_close\": {\"price\": %s, \"date\": %s, \"level\": ",
                 exact(a.last_close).c_str(), json_string(bars.back().stamp).c_str());
    if (a.close_level >= 0) std::fprintf(out, "%d},\n", a.close_level);
    else std::fprintf(out, "null},\n");
    if (a.timed) {
        std::fprintf(out, "  \"seconds\": {\"total\": %s, \"fractals\": %s, \"merge\": %s}\n",
                     exact(a.seconds_total).c_str(), exact(a.seconds_fractals).c_str(),
                     exact(a.seconds_merge).c_str());
    } else {
        std::fprintf(out, "  \"seconds\": null\n");
    }
    std::fprintf(out, "}\n");
}

bool write_file_atomically(const std::string& path, const std::string& content,
                           std::string& error) {
#ifdef _WIN32
    const std::string temp = path + ".part" + std::to_string(GetCurrentProcessId());
#else
    const std::string temp = path + ".part" + std::to_string(getpid());
#endif
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (file == nullptr) {
        error = path + ": cannot write: " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const int why = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = path + ": cannot write: " + std::strerror(written ? errno : why);
        std::remove(temp.c_str());
        return false;
    }
#ifdef _WIN32
    const bool renamed = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    const bool renamed = std::rename(temp.c_str(), path.c_str()) == 0;
#endif
    if (!renamed) {
        error = path + ": cannot replace the file: " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace tidemark::scan
