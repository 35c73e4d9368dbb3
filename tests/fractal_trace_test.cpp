// The down fractal's diagnostic trace. The shipped library's sink is silent,
// so these tests build the routine into the test program with a sink that
// keeps every message, and check the bytes.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bar_buffer.h"
#include "bars/fractal.h"
#include "differential.h"
#include "numbers.h"
#include "reference.h"

namespace {

using namespace numbers;

// Keeps every message, formatted as printf formats it. The format attribute
// lets the compiler check the library's format strings against their
// arguments.
struct CapturingTrace {
    static constexpr bool kListening = true;
    std::string bytes;
    int messages = 0;

    __attribute__((format(printf, 2, 3))) void operator()(const char* format, ...) {
        va_list args;
        va_start(args, format);
        va_list again;
        va_copy(again, args);
        const int length = std::vsnprintf(nullptr, 0, format, args);
        va_end(args);
        if (length > 0) {
            std::vector<char> text(static_cast<std::size_t>(length) + 1);
            std::vsnprintf(text.data(), text.size(), format, again);
            bytes.append(text.data(), static_cast<std::size_t>(length));
        }
        va_end(again);
        ++messages;
    }
};

// Time texts depend on the time zone; the tests choose it.
void use_time_zone(const char* zone) {
#ifdef _WIN32
    static std::string setting;  // _putenv keeps the pointer
    setting = std::string("TZ=") + zone;
    _putenv(setting.c_str());
    _tzset();
#else
    setenv("TZ", zone, 1);
    tzset();
#endif
}

// Readable UTF-8 to Windows-1251: ASCII as it is, А ... я (U+0410 ... U+044F)
// to 0xC0 ... 0xFF. The test texts use nothing else.
std::string cp1251(const char* utf8) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8); *p != 0; ++p) {
        if (*p < 0x80) {
            out += static_cast<char>(*p);
            continue;
        }
        const unsigned code = ((p[0] & 0x1Fu) << 6) | (p[1] & 0x3Fu);
        if ((p[0] & 0xE0u) != 0xC0u || code < 0x410 || code > 0x44F) {
            ADD_FAILURE() << "test text holds a character outside А ... я";
            return out;
        }
        out += static_cast<char>(0xC0 + (code - 0x410));
        ++p;
    }
    return out;
}

std::string hex(const std::string& bytes) {
    std::string out;
    char byte[4];
    for (unsigned char b : bytes) {
        std::snprintf(byte, sizeof byte, "%02X ", b);
        out += byte;
    }
    return out;
}

struct TraceCase {
    const char* name;
    std::vector<double> lows;
    int32_t centre_time;
    int32_t depth;
    int32_t shift;
    int32_t want;
    const char* want_trace;  // UTF-8, converted to Windows-1251 for the check
};

TEST(FractalTrace, MessagesAreTheExactBytes) {
    use_time_zone("UTC0");
    const std::vector<TraceCase> cases = {
        {"lows 5 4 3 1 2 1 0.5, depth 3", {5, 4, 3, 1, 2, 1, 0.5}, 1700014400, 3, 3, 2,
         "\n"
         "Определяем нижний фрактал cмещение 3, время Tue Nov 14 22:13:20 2023\n; low 1.000000\n"
         "\tПроверяем 1.000000 > 3.000000?  ...right = 0\n"
         "\tПроверяем 1.000000 > 4.000000?  ...right = 1\n"
         "\tПроверяем 1.000000 > 5.000000?  ...right = 2\n"
         "\n"
         "\tПроверяем 1.000000 > 2.000000? ... left = 0\n"
         "\tПроверяем 1.000000 > 1.000000? ... left = 1\n"
         "\tПроверяем 1.000000 > 0.500000? ... "
         "left = 2, right = 3\n"},
        {"both runs cut, time of a zeroed record", {0.5, 2, 1, 0.25, 3}, 0, 2, 2, 0,
         "\n"
         "Определяем нижний фрактал cмещение 2, время ??? ??? ?? ??:??:?? ????\n; low 1.000000\n"
         "\tПроверяем 1.000000 > 2.000000?  ...right = 0\n"
         "\tПроверяем 1.000000 > 0.500000?  ... !!! "
         "\n"
         "\tПроверяем 1.000000 > 0.250000? ... "
         "left = 0, right = 1\n"},
        {"right neighbour fails at once, time below four hours", {-1, 0, 5, -2}, 14399, 5, 1, 0,
         "\n"
         "Определяем нижний фрактал cмещение 1, время ??? ??? ?? ??:??:?? ????\n; low 0.000000\n"
         "\tПроверяем 0.000000 > -1.000000?  ... !!! "
         "\n"
         "\tПроверяем 0.000000 > 5.000000? ... left = 0\n"
         "\tПроверяем 0.000000 > -2.000000? ... "
         "left = 1, right = 0\n"},
        {"time of exactly four hours", {7, 7, 7}, 14400, 1, 1, 1,
         "\n"
         "Определяем нижний фрактал cмещение 1, время Thu Jan  1 00:00:00 1970\n; low 7.000000\n"
         "\tПроверяем 7.000000 > 7.000000?  ...right = 0\n"
         "\n"
         "\tПроверяем 7.000000 > 7.000000? ... left = 0\n"
         "left = 1, right = 1\n"},
    };
    for (const TraceCase& c : cases) {
        SCOPED_TRACE(c.name);
        BarBuffer bars(c.lows.size(), 1);
        for (std::size_t i = 0; i < c.lows.size(); ++i) {
            bars.set_low(i, c.lows[i]);
            bars.set_high(i, 0.0);
            bars.set_time(i, static_cast<int32_t>(i) == c.shift ? c.centre_time : kMax);
        }
        CapturingTrace trace;
        EXPECT_EQ(tidemark::bars::check_down_fractal(bars.data(), c.depth, c.shift, trace), c.want);
        const std::string want = cp1251(c.want_trace);
        EXPECT_EQ(hex(trace.bytes), hex(want));
        EXPECT_EQ(tidemark::bars::check_down_fractal(bars.data(), c.depth, c.shift), c.want)
            << "the silent sink gives another result";
    }
}

// The few bytes that are easy to get wrong by hand: the first Cyrillic
// letter, and the Latin "c" that starts "cмещение".
TEST(FractalTrace, HeaderKeepsItsLatinLetter) {
    use_time_zone("UTC0");
    BarBuffer bars(3, 0);
    for (std::size_t i = 0; i < 3; ++i) {
        bars.set_low(i, 1.0);
        bars.set_time(i, 1700014400);
    }
    CapturingTrace trace;
    tidemark::bars::check_down_fractal(bars.data(), 1, 1, trace);
    ASSERT_GT(trace.bytes.size(), 40u);
    EXPECT_EQ(static_cast<unsigned char>(trace.bytes[1]), 0xCEu);  // "О" after the leading "\n"
    const std::string before = "\xF4\xF0\xE0\xEA\xF2\xE0\xEB ";  // "фрактал "
    const std::size_t at = trace.bytes.find(before);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(trace.bytes[at + before.size()], 'c');
    EXPECT_EQ(static_cast<unsigned char>(trace.bytes[at + before.size() + 1]), 0xECu);  // "м"
}

TEST(FractalTrace, DepthBelowOneIssuesNothing) {
    CapturingTrace trace;
    // No bars at all: nothing may be read, and nothing is traced. (Through a
    // volatile, so the compiler does not warn about the reads it cannot
    // prove unreachable.)
    const BarRecord* volatile none = nullptr;
    for (int32_t depth : {0, -1, kMin}) EXPECT_EQ(tidemark::bars::check_down_fractal(none, depth, 4, trace), 0);
    EXPECT_EQ(trace.messages, 0);
    EXPECT_EQ(trace.bytes, "");
}

TEST(FractalTrace, TimeTextInTheAsctimeLayout) {
    struct TimeCase {
        const char* zone;
        int32_t time;
        const char* want;
    };
    const char* const kNoTime = "??? ??? ?? ??:??:?? ????\n";
    const std::vector<TimeCase> cases = {
        {"UTC0", 1700014400, "Tue Nov 14 22:13:20 2023\n"},
        {"UTC0", 14400, "Thu Jan  1 00:00:00 1970\n"},
        {"UTC0", kMax, "Mon Jan 18 23:14:07 2038\n"},
        {"UTC0", 14399, kNoTime},
        {"UTC0", 0, kNoTime},
        {"UTC0", -1, kNoTime},
        {"UTC0", kMin, kNoTime},
        // Local time: five hours behind UTC.
        {"EST5", 14400 + 5 * 3600, "Thu Jan  1 00:00:00 1970\n"},
        {"EST5", 1700014400, "Tue Nov 14 17:13:20 2023\n"},
    };
    for (const TimeCase& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + ", bar time " + std::to_string(c.time));
        use_time_zone(c.zone);
        char text[tidemark::bars::kTimeTextSize];
        tidemark::bars::bar_time_text(c.time, text);
        EXPECT_STREQ(text, c.want);
    }
    use_time_zone("UTC0");
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Random bars and times (negative, zero and the int32 limits included):
// listening never changes the result, and the messages follow the runs.
std::string random_traced(differential::Rng& rng, const differential::Around& around) {
    const std::string right_check = "?  ...";
    const std::string left_check = "? ... ";
    const int32_t depth = static_cast<int32_t>(random_values::below(rng, 10)) - 1;
    const int32_t reach = depth > 0 ? depth : 0;
    const std::size_t count = static_cast<std::size_t>(2 * reach + 1);
    BarBuffer bars(count, static_cast<std::size_t>(random_values::below(rng, 8)));
    const double c = random_values::price(rng);
    for (std::size_t i = 0; i < count; ++i) {
        bars.set_time(i, random_values::int32(rng));
        const uint64_t kind = random_values::below(rng, 4);
        bars.set_low(i, kind == 0 ? random_values::price(rng) : kind == 1 ? c : c + 1.0);
    }
    CapturingTrace trace;
    int32_t got = 0;
    differential::call(around, [&] { got = tidemark::bars::check_down_fractal(bars.data(), depth, reach, trace); });
    const int32_t want = reference::check_down_fractal(bars.data(), depth, reach);
    int left = -1;
    int right = -1;
    const std::size_t last = trace.bytes.rfind("left = ");
    const bool parsed = depth < 1 || (last != std::string::npos &&
                                      std::sscanf(trace.bytes.c_str() + last, "left = %d, right = %d\n", &left,
                                                  &right) == 2);
    bool same = got == want && parsed;
    if (same && depth >= 1) {
        same = (left < right ? left : right) == want &&
               occurrences(trace.bytes, right_check) == static_cast<std::size_t>(right + (right < depth ? 1 : 0)) &&
               occurrences(trace.bytes, " !!! ") == static_cast<std::size_t>(right < depth ? 1 : 0) &&
               occurrences(trace.bytes, left_check) == static_cast<std::size_t>(left + (left < depth ? 1 : 0)) &&
               trace.bytes.compare(trace.bytes.size() - 1, 1, "\n") == 0;
    }
    if (same) return {};
    return "depth " + std::to_string(depth) + " got " + std::to_string(got) + " want " + std::to_string(want) +
           "\n" + trace.bytes;
}

TEST(FractalTrace, ListeningChangesNothingOnRandomBars) {
    use_time_zone("UTC0");
    differential::run({"traced down fractal", 20261209, 20000, random_traced});
}

}  // namespace
