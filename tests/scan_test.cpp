// The demo host, tidemark-scan: reading and checking CSV bars, laying them out
// as BarRecords, the workflow through the exports, and the whole command run
// in-process on good and bad input.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis.h"
#include "bars.h"
#include "cli.h"
#include "loader.h"
#include "report.h"
#include "xml_check.h"

namespace fs = std::filesystem;
using namespace tidemark::scan;

namespace {

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class Scan : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               (std::string("tidemark-scan-") + info->name() + "-" + std::to_string(std::rand()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    struct Outcome {
        int status;
        std::string out, err;
    };

    // Runs the whole host in-process against the library under test.
    Outcome scan(std::vector<std::string> args) const {
        args.insert(args.begin(), {"tidemark-scan", "--library", tidemark::loader::library_path()});
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        const std::string out_path = path("stdout.txt"), err_path = path("stderr.txt");
        std::FILE* out = std::fopen(out_path.c_str(), "wb");
        std::FILE* err = std::fopen(err_path.c_str(), "wb");
        const int status = run(static_cast<int>(argv.size()), argv.data(), out, err);
        std::fclose(out);
        std::fclose(err);
        return {status, slurp(out_path), slurp(err_path)};
    }

    // Files in the test's folder other than the captured output.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().string();
            if (name != "stdout.txt" && name != "stderr.txt" && name != "bars.csv") names.push_back(name);
        }
        return names;
    }

    fs::path dir_;
};

const char* const kGood =
    "date,open,high,low,close,volume\n"
    "2020-01-02,10,12,9,11,100\n"
    "2020-01-03,11,13,10,12,100\n"
    "2020-01-06,12,15,11,14,100\n"
    "2020-01-07,14,14.5,12,13,100\n"
    "2020-01-08,13,13.5,11,12,100\n";

struct BadInput {
    const char* name;
    const char* text;  // null: the file does not exist
    std::string want;  // the message after "FILE"
};

// Each malformed input gives one line naming the file and line, a non-zero
// status, and no chart, not even a partial one.
TEST_F(Scan, MalformedInputGivesOneLineErrorAndNoChart) {
    const std::vector<BadInput> cases = {
        {"missing file", nullptr, ": cannot open: "},
        {"empty file", "", ":1: the file is empty: no bars"},
        {"blank lines only", "\n  \n\n", ":3: the file is empty: no bars"},
        {"header only", "date,open,high,low,close\n", ":1: no bars after the header"},
        {"too few fields", "2020-01-02,10,12,9,11\n2020-01-03,11,13,10\n",
         ":2: 4 fields, expected date, open, high, low, close and optional volume"},
        {"a lone date", "date,open,high,low,close\n2020-01-02\n",
         ":2: 1 field, expected date, open, high, low, close and optional volume"},
        {"too many fields", "2020-01-02,10,12,9,11,100,7\n",
         ":1: 7 fields, expected at most 6: date, open, high, low, close, volume"},
        {"non-numeric close", "date,open,high,low,close\n2020-01-02,10,12,9,eleven\n",
         ":2: close \"eleven\" is not a finite number"},
        {"number with trailing text", "2020-01-02,10,12x,9,11\n", ":1: high \"12x\" is not a finite number"},
        {"empty field", "2020-01-02,10,,9,11\n", ":1: high \"\" is not a finite number"},
        {"NaN price", "2020-01-02,nan,12,9,11\n", ":1: open \"nan\" is not a finite number"},
        {"infinite price", "2020-01-02,10,inf,9,11\n", ":1: high \"inf\" is not a finite number"},
        {"non-numeric volume", "2020-01-02,10,12,9,11,lots\n", ":1: volume \"lots\" is not a finite number"},
        {"negative volume", "2020-01-02,10,12,9,11,-5\n", ":1: volume -5 is negative"},
        {"not a date", "2020-01-02,10,12,9,11\n02/01/2020,10,12,9,11\n",
         ":2: date \"02/01/2020\" is not a date (YYYY-MM-DD, optionally with HH:MM or HH:MM:SS)"},
        {"no such day", "2021-02-29,10,12,9,11\n",
         ":1: date \"2021-02-29\" is not a date (YYYY-MM-DD, optionally with HH:MM or HH:MM:SS)"},
        {"bad time of day", "2020-01-02 24:00,10,12,9,11\n",
         ":1: date \"2020-01-02 24:00\" is not a date (YYYY-MM-DD, optionally with HH:MM or HH:MM:SS)"},
        {"date a bar record cannot hold", "2038-01-20,10,12,9,11\n",
         ":1: date 2038-01-20 is outside 1901-12-13 .. 2038-01-19, the range of a bar record's time"},
        {"high below low", "2020-01-02,10,12,9,11\n2020-01-03,10,9,9.5,9.2\n",
         ":2: high 9 is below low 9.5"},
        {"dates out of order", "2020-01-03,10,12,9,11\n2020-01-02,10,12,9,11\n",
         ":2: date 2020-01-02 comes before 2020-01-03 on line 1: bars must be oldest first, one per date"},
        {"repeated date", "d,o,h,l,c\n2020-01-02,10,12,9,11\n\n2020-01-02,10,12,9,11\n",
         ":4: date 2020-01-02 repeats 2020-01-02 on line 2: bars must be oldest first, one per date"},
        {"times out of order", "2020-01-02 10:00,10,12,9,11\n2020-01-02 09:59:59,10,12,9,11\n",
         ":2: date 2020-01-02 09:59:59 comes before 2020-01-02 10:00 on line 1: bars must be oldest "
         "first, one per date"},
        {"control bytes in a field", "2020-01-02,1\r0,12,9,11\n",
         ":1: open \"1\\x0D0\" is not a finite number"},
        {"a long field", "2020-01-02,10,12,9,11,1234567890123456789012345678901234567890x\n",
         ":1: volume \"1234567890123456789012345678901234567890...\" is not a finite number"},
        {"fault deep in a CRLF file", "date,open,high,low,close\r\n2020-01-02,10,12,9,11\r\n"
                                      "2020-01-03,10,12,9,11\r\n2020-01-06,10,12,13,11\r\n",
         ":4: high 12 is below low 13"},
    };
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string csv = path("bars.csv");
        std::error_code ignored;
        fs::remove(csv, ignored);
        if (c.text != nullptr) spit(csv, c.text);

        BarSeries series;
        std::string error;
        EXPECT_FALSE(read_bars(csv, series, error));
        EXPECT_EQ(error.compare(0, csv.size() + c.want.size(), csv + c.want), 0) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_TRUE(series.bars.empty());

        // The whole host: same line, a failure status, no chart and no
        // temporary file; a chart already there is left as it was.
        const std::string chart = path("chart.svg");
        spit(chart, "an older chart");
        const Outcome r = scan({csv, "--svg", chart});
        EXPECT_EQ(r.status, kBadInput);
        EXPECT_EQ(r.err, "tidemark-scan: " + error + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(slurp(chart), "an older chart");
        fs::remove(chart);
        EXPECT_EQ(scan({csv, "--svg", chart, "--json"}).status, kBadInput);
        EXPECT_FALSE(fs::exists(chart));
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
}

TEST_F(Scan, ReadsTheAcceptedForms) {
    struct Form {
        const char* name;
        const char* text;
        bool intraday;
    };
    // The same three bars written in each accepted form.
    const std::vector<Form> forms = {
        {"header, volume", "date,open,high,low,close,volume\n2020-01-02,10,12,9,11,5\n"
                           "2020-01-03,11,13.5,10,12,6\n2020-01-06,12,15,11,14,7\n", false},
        {"no header, CRLF, no trailing newline", "2020-01-02,10,12,9,11,5\r\n"
                                                 "2020-01-03,11,13.5,10,12,6\r\n2020-01-06,12,15,11,14,7", false},
        {"byte-order mark, quotes, spaces, blank lines",
         "\xEF\xBB\xBF\"Date\",\"Open\",\"High\",\"Low\",\"Close\",\"Volume\"\n\n"
         "\"2020-01-02\", 10 ,12,9,11,5\n  \n2020-01-03,11,13.5,10,12,6\n2020-01-06,12,15,11,14,7\n\n", false},
        {"other date separators", "2020/01/02,10,12,9,11,5\n2020.01.03,11,13.5,10,12,6\n"
                                  "2020-01-06,12,15,11,14,7\n", false},
        {"midnight date-times", "2020-01-02 00:00,10,12,9,11,5\n2020-01-03T00:00:00Z,11,13.5,10,12,6\n"
                                "2020-01-06 00:00:00,12,15,11,14,7\n", true},
    };
    for (const Form& f : forms) {
        SCOPED_TRACE(f.name);
        BarSeries s;
        std::string error;
        ASSERT_TRUE(parse_bars("x.csv", f.text, s, error)) << error;
        ASSERT_EQ(s.bars.size(), 3u);
        EXPECT_EQ(s.intraday, f.intraday);
        EXPECT_EQ(s.bars[0].time, 1577923200);  // 2020-01-02 00:00 UTC
        EXPECT_EQ(s.bars[1].time, 1578009600);
        EXPECT_EQ(s.bars[2].time, 1578268800);
        EXPECT_EQ(s.bars[1].open, 11.0);
        EXPECT_EQ(s.bars[1].high, 13.5);
        EXPECT_EQ(s.bars[1].low, 10.0);
        EXPECT_EQ(s.bars[1].close, 12.0);
        EXPECT_EQ(s.bars[2].volume, 7.0);
    }
    BarSeries s;
    std::string error;
    ASSERT_TRUE(parse_bars("x.csv", "2020-01-02,10,12,9,11\n", s, error)) << error;
    EXPECT_EQ(s.bars[0].volume, 0.0);
    ASSERT_TRUE(parse_bars("x.csv", "2020-01-02 13:45:30,10,12,9,11\n", s, error)) << error;
    EXPECT_EQ(s.bars[0].time, 1577923200 + 13 * 3600 + 45 * 60 + 30);
    EXPECT_TRUE(s.intraday);
}

// Whatever bytes a file holds, the reader either accepts it or gives one line
// naming the file and a line, and never reads out of bounds (the sanitizer
// build runs this too).
TEST(ScanInput, ArbitraryBytesNeverCrashTheReader) {
    std::mt19937 rng(20260101);
    const std::string alphabet = "0123456789-:,.\"\r\n TZe+/x\x01\xEF\xBB\xBF";
    const std::string good = "2020-01-02,10,12,9,11,5\n2020-01-03,11,13,10,12,6\n";
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        if (round % 2 == 0) {
            // A valid file with a few bytes changed.
            text = good;
            for (int k = 0; k < 1 + round % 4; ++k)
                text[rng() % text.size()] = alphabet[rng() % alphabet.size()];
        } else {
            const std::size_t length = rng() % 80;
            for (std::size_t k = 0; k < length; ++k) text += alphabet[rng() % alphabet.size()];
        }
        BarSeries series;
        std::string error;
        if (parse_bars("f.csv", text, series, error)) {
            ++accepted;
            ASSERT_FALSE(series.bars.empty());
            for (std::size_t i = 1; i < series.bars.size(); ++i)
                ASSERT_LT(series.bars[i - 1].time, series.bars[i].time);
            for (const Bar& bar : series.bars) ASSERT_LE(bar.low, bar.high);
        } else {
            ASSERT_EQ(error.compare(0, 6, "f.csv:"), 0) << error;
            ASSERT_TRUE(std::none_of(error.begin(), error.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
                << error;
            ASSERT_TRUE(series.bars.empty());
        }
    }
    EXPECT_GT(accepted, 100);  // the mutations leave many files valid
}

TEST(ScanCalendar, SecondsAndCivilDatesAgree) {
    EXPECT_EQ(utc_seconds(1970, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(utc_seconds(2004, 8, 19, 0, 0, 0), 1092873600);
    EXPECT_EQ(utc_seconds(2000, 2, 29, 0, 0, 0), 951782400);
    EXPECT_EQ(utc_seconds(2038, 1, 19, 3, 14, 7), INT32_MAX);
    EXPECT_EQ(utc_seconds(1901, 12, 13, 20, 45, 52), INT32_MIN);
    // Every day from 1899 to 2101 round-trips, and days are consecutive.
    int64_t expected = utc_seconds(1899, 1, 1, 0, 0, 0);
    for (int y = 1899; y <= 2101; ++y) {
        for (int m = 1; m <= 12; ++m) {
            const int days = m == 2 ? ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0 ? 29 : 28)
                                    : (m == 4 || m == 6 || m == 9 || m == 11 ? 30 : 31);
            for (int d = 1; d <= days; ++d, expected += 86400) {
                const int64_t t = utc_seconds(y, m, d, 23, 59, 58);
                ASSERT_EQ(t, expected + 86398) << y << "-" << m << "-" << d;
                const Civil c = civil_from_seconds(t);
                ASSERT_TRUE(c.year == y && c.month == m && c.day == d && c.hour == 23 &&
                            c.minute == 59 && c.second == 58)
                    << y << "-" << m << "-" << d;
            }
        }
    }
}

TEST(ScanLayout, RecordsAre44PackedBytesNewestFirst) {
    std::vector<Bar> bars = {
        {1000, "a", 1.5, 2.5, 0.5, 2.0, 10},
        {2000, "b", 3.5, 4.5, 2.5, 4.0, 20},
        {3000, "c", 5.5, 6.5, 4.5, 6.0, 30},
    };
    const std::vector<unsigned char> records = layout_records(bars);
    ASSERT_EQ(records.size(), 3u * 44u);
    for (std::size_t r = 0; r < 3; ++r) {
        const Bar& bar = bars[2 - r];  // record 0 is the newest bar
        const unsigned char* p = records.data() + 44 * r;
        int32_t time;
        double field[5];
        std::memcpy(&time, p, 4);
        for (int k = 0; k < 5; ++k) std::memcpy(&field[k], p + 4 + 8 * k, 8);
        EXPECT_EQ(time, bar.time);
        EXPECT_EQ(field[0], bar.open);
        EXPECT_EQ(field[1], bar.low);
        EXPECT_EQ(field[2], bar.high);
        EXPECT_EQ(field[3], bar.close);
        EXPECT_EQ(field[4], bar.volume);
    }
}

TEST_F(Scan, SampleEndToEnd) {
    const std::string chart = path("sample.svg");
    const Outcome r = scan({TIDEMARK_SAMPLE, "--svg", chart});
    ASSERT_EQ(r.status, kOk) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("1047 daily bars, 2004-08-19 to 2008-10-14"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("CheckLevel last close 362.71 (2008-10-14) is at"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("for the whole run (stopwatch exports)"), std::string::npos) << r.out;

    const std::string svg = slurp(chart);
    std::size_t elements = 0;
    EXPECT_EQ(xml_check::problem(svg, &elements), "");
    EXPECT_GT(elements, 1000u);
    EXPECT_EQ(svg.compare(0, 5, "<?xml"), 0);
    EXPECT_EQ(leftovers(), std::vector<std::string>{"sample.svg"});

    // One drawn line per merged level, and as many levels as the JSON lists.
    const Outcome j = scan({TIDEMARK_SAMPLE, "--json"});
    ASSERT_EQ(j.status, kOk) << j.err;
    const std::size_t levels = count_of(j.out, "{\"index\": ");
    EXPECT_GT(levels, 10u);
    EXPECT_EQ(count_of(svg, "<title>level "), levels);
    EXPECT_NE(j.out.find("\"bars\": 1047,"), std::string::npos);
    EXPECT_NE(j.out.find("\"fractal_counts\": \"exact\","), std::string::npos);
}

// The workflow's results hold together: the merged levels are the fractals'
// prices, spaced more than the tolerance apart, every fractal is counted
// once, and the close test agrees with the distances.
TEST(ScanWorkflow, LevelsComeFromTheFractals) {
    tidemark::loader::Library library;
    std::string error;
    ASSERT_TRUE(library.open(tidemark::loader::library_path(), error)) << error;
    BarSeries series;
    ASSERT_TRUE(read_bars(TIDEMARK_SAMPLE, series, error)) << error;
    for (int32_t mode : {0, 1, 2}) {
        for (int32_t depth : {1, 2, 5}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", depth " + std::to_string(depth));
            Settings settings;
            settings.mode = mode;
            settings.depth = depth;
            const Analysis a = analyse(library.exports(), series, settings);
            ASSERT_GT(a.levels.size(), 3u);
            EXPECT_EQ(a.tolerance, 0.5 * a.mean_range);
            EXPECT_EQ(a.up_count + a.down_count, static_cast<int32_t>(a.fractals.size()));
            int64_t strengths = 0, merged = 0, counted = 0;
            for (const Fractal& f : a.fractals) {
                const Bar& bar = series.bars[f.bar];
                EXPECT_EQ(f.price, f.up ? bar.high : bar.low);
                ASSERT_TRUE(f.strength >= 1 && f.strength <= depth);
                ASSERT_TRUE(f.bar >= static_cast<std::size_t>(depth) &&
                            f.bar + depth < series.bars.size());
                strengths += f.strength;
            }
            for (std::size_t k = 0; k < a.levels.size(); ++k) {
                const Level& level = a.levels[k];
                merged += level.merged_weight;
                counted += level.fractals;
                // Rescaling is one common positive factor: order is kept.
                EXPECT_GE(level.weight, 0);
                for (const Level& other : a.levels) {
                    if (other.merged_weight < level.merged_weight) {
                        EXPECT_LE(other.weight, level.weight);
                    }
                }
                if (k > 0) {
                    EXPECT_GT(level.price - a.levels[k - 1].price, a.tolerance);
                }
                if (mode != 2) {
                    EXPECT_TRUE(std::any_of(a.fractals.begin(), a.fractals.end(),
                                            [&](const Fractal& f) { return f.price == level.price; }))
                        << level.price;
                }
            }
            EXPECT_EQ(counted, static_cast<int64_t>(a.fractals.size()));
            EXPECT_EQ(a.counts_exact, mode != 0);
            if (mode != 0) {
                EXPECT_EQ(merged, strengths);
            }
            EXPECT_EQ(a.last_close, 362.71);
            for (std::size_t k = 0; k < a.levels.size(); ++k) {
                const bool near = std::fabs(a.levels[k].price - a.last_close) <= a.tolerance;
                // The first level within the tolerance, or none.
                const auto index = static_cast<int32_t>(k);
                if (a.close_level < 0 || index < a.close_level) {
                    EXPECT_FALSE(near) << "level " << k;
                } else if (index == a.close_level) {
                    EXPECT_TRUE(near) << "level " << k;
                }
            }
            EXPECT_TRUE(a.timed);
            EXPECT_GE(a.seconds_total, a.seconds_fractals + a.seconds_merge);
            EXPECT_GE(a.seconds_fractals, 0.0);
        }
    }
}

TEST_F(Scan, BadUsageAndUnusableLibrary) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;  // the start of the one-line message
    };
    const std::vector<Case> cases = {
        {{"--frobnicate"}, kBadUsage, "tidemark-scan: unknown option --frobnicate"},
        {{"--mode", "3"}, kBadUsage, "tidemark-scan: --mode needs 0, 1 or 2"},
        {{"--depth", "0"}, kBadUsage, "tidemark-scan: --depth needs"},
        {{"--depth=2x"}, kBadUsage, "tidemark-scan: --depth needs"},
        {{"--tolerance", "-1"}, kBadUsage, "tidemark-scan: --tolerance needs"},
        {{"--svg"}, kBadUsage, "tidemark-scan: --svg needs a file name"},
        {{"a.csv", "b.csv"}, kBadUsage, "tidemark-scan: one input file only"},
        {{"--library", "no-such-library.so"}, kBadLibrary, "tidemark-scan: no-such-library.so: cannot load"},
#ifdef _WIN32
        {{"--library", "kernel32.dll"}, kBadLibrary,
         "tidemark-scan: kernel32.dll: the library has no export named CheckLevel"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const Outcome r = scan(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.compare(0, c.err.size(), c.err), 0) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const Outcome help = scan({"--help"});
    EXPECT_EQ(help.status, kOk);
    EXPECT_NE(help.out.find("usage: tidemark-scan"), std::string::npos);
}

TEST_F(Scan, ChartThatCannotBeWrittenFailsCleanly) {
    spit(path("bars.csv"), kGood);
    const std::string chart = path("no-such-folder/chart.svg");
    const Outcome r = scan({path("bars.csv"), "--svg", chart});
    EXPECT_EQ(r.status, kBadInput);
    EXPECT_EQ(r.err.compare(0, 15 + chart.size(), "tidemark-scan: " + chart), 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

TEST_F(Scan, ShortInputStillReports) {
    // Five bars: one bar has two neighbours on each side at depth 2.
    spit(path("bars.csv"), kGood);
    const Outcome r = scan({path("bars.csv"), "--json", "--svg", path("c.svg")});
    ASSERT_EQ(r.status, kOk) << r.err;
    // The third bar's high of 15 tops two bars on each side; its low does not. One
    // weight has a zero spread, which Resize leaves as it is.
    EXPECT_NE(r.out.find("\"levels\": [\n    {\"index\": 0, \"price\": 15, \"merged_weight\": 2, "
                         "\"weight\": 2, \"fractals\": 1}\n  ],"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"last_close\": {\"price\": 12, \"date\": \"2020-01-08\", \"level\": null}"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(xml_check::problem(slurp(path("c.svg"))), "");
    // Too few bars for any fractal: no levels, still a report and a chart.
    spit(path("bars.csv"), "2020-01-02,10,12,9,11\n");
    const Outcome one = scan({path("bars.csv"), "--svg", path("c.svg")});
    ASSERT_EQ(one.status, kOk) << one.err;
    EXPECT_NE(one.out.find("no levels"), std::string::npos) << one.out;
    EXPECT_EQ(xml_check::problem(slurp(path("c.svg"))), "");
}

TEST(ScanText, ExactNumbersReadBack) {
    for (double v : {0.1, 362.71, 1.0 / 3.0, 5.2633237822349569, 1e-300, 123456789.125}) {
        EXPECT_EQ(std::strtod(exact(v).c_str(), nullptr), v) << exact(v);
    }
    EXPECT_EQ(exact(362.71), "362.71");
    EXPECT_EQ(price_decimals(10.5), 2);
    EXPECT_EQ(price_decimals(0.0012), 5);
}

}  // namespace
