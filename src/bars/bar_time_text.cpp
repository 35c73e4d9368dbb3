// The bar time for the down fractal's diagnostic trace. Only a build with a
// listening trace sink (the tests, the fuzz targets, a diagnostic build)
// compiles this file: the shipped library's sink is silent and never forms
// the message, so the DLL carries no calendar conversion from the C runtime.
#include "bars/fractal.h"

#include <cstdio>
#include <ctime>

namespace tidemark::bars {
namespace {

// Bar times are four hours ahead of the time the trace shows.
constexpr int64_t kTraceTimeShift = 14400;  // 4 h

// Same width and newline as a real time, so the message keeps its shape.
constexpr char kNoTime[] = "??? ??? ?? ??:??:?? ????\n";

bool to_local_time(std::time_t seconds, std::tm& out) noexcept {
#ifdef _WIN32
    return localtime_s(&out, &seconds) == 0;
#else
    return localtime_r(&seconds, &out) != nullptr;
#endif
}

}  // namespace

void bar_time_text(int32_t time, char (&text)[kTimeTextSize]) noexcept {
    static_assert(sizeof kNoTime <= kTimeTextSize, "placeholder fits");
    std::memcpy(text, kNoTime, sizeof kNoTime);
    // 64-bit arithmetic: the shift must not wrap for the lowest bar times.
    const int64_t seconds = static_cast<int64_t>(time) - kTraceTimeShift;
    // Negative times are refused on every platform alike (Windows cannot
    // convert them), and a 32-bit time_t must hold the value exactly.
    if (seconds < 0 || static_cast<int64_t>(static_cast<std::time_t>(seconds)) != seconds) return;
    std::tm local{};
    if (!to_local_time(static_cast<std::time_t>(seconds), local)) return;
    // asctime's own layout, formed here because asctime shares one buffer
    // between threads. The fields are range-checked so the text always fits.
    static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) return;
    char formed[kTimeTextSize];
    const int length = std::snprintf(formed, sizeof formed, "%.3s %.3s%3d %.2d:%.2d:%.2d %d\n",
                                     kDays[local.tm_wday], kMonths[local.tm_mon], local.tm_mday,
                                     local.tm_hour, local.tm_min, local.tm_sec, 1900 + local.tm_year);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof formed) return;
    std::memcpy(text, formed, static_cast<std::size_t>(length) + 1);
}

}  // namespace tidemark::bars
