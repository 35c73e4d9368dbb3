// The demo host, tidemark-scan: reading and checking CSV bars, laying them out
// as BarRecords, the workflow through the exports, and the whole command run
// in-process on good and bad input.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "analysis.h"
#include "screen_row.h"
#include "bars.h"
#include "cli.h"
#include "files.h"
#include "format.h"
#include "loader.h"
#include "number.h"
#include "report.h"
#include "svg.h"
#include "bytes.h"
#include "timestamp.h"
#include "xml_check.h"

// Every new in this program goes through here, so that a test can refuse the
// allocations above a size as a machine short of memory does.
namespace {
std::atomic<std::size_t> refuse_above{SIZE_MAX};
}  // namespace

// (std::stable_sort's buffer comes from the nothrow form.) None of them is
// inlined: the compiler would then see malloc paired with delete and warn.
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return size > refuse_above.load(std::memory_order_relaxed) ? nullptr : std::malloc(size == 0 ? 1 : size);
}
[[gnu::noinline]] void* operator new(std::size_t size) {
    if (void* p = operator new(size, std::nothrow)) return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace fs = std::filesystem;
using namespace tidemark::scan;
using Json = nlohmann::json;

namespace {

std::string library_file() { return tidemark::loader::library_path(); }

// Files by UTF-8 name, as the host opens them.
std::string slurp(const std::string& path) {
    std::string text, error;
    read_file(path, text, error);
    return text;
}

void spit(const std::string& path, const std::string& text) {
    std::FILE* f = open_file(path, "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

// Throws (failing the test) unless text is one valid JSON document.
Json parsed(const std::string& text) { return Json::parse(text); }

// A file in a folder, as the host names the files it finds there.
std::string joined(const std::string& folder, const std::string& name) {
    return (fs::u8path(folder) / fs::u8path(name)).u8string();
}

// Rows of the report's level table: "  " and a right-aligned index in five
// columns, then the price.
std::size_t level_rows(const std::string& report) {
    std::size_t n = 0, start = 0;
    for (std::size_t end; (end = report.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = report.substr(start, end - start);
        if (line.size() < 9 || line.compare(0, 2, "  ") != 0 || line[7] != ' ') continue;
        const std::string index = line.substr(2, 5);
        const std::size_t digits = index.find_first_not_of(' ');
        if (digits != std::string::npos && index.find_first_not_of("0123456789", digits) == std::string::npos) ++n;
    }
    return n;
}

// Bars from rows of open, high, low, close, one a day (or every `step`
// seconds) from 2020-01-01.
std::string csv_of(const std::vector<std::vector<double>>& rows, int64_t step = 86400) {
    std::string text = "date,open,high,low,close\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        text += time_text(utc_seconds(2020, 1, 1, 0, 0, 0) + static_cast<int64_t>(i) * step, step % 86400 != 0);
        for (double v : rows[i]) text += "," + exact(v);
        text += "\n";
    }
    return text;
}

// A CSV file of three bars (2020-01-02, 01-03 and 01-06), compressed by
// Python's gzip module at level 9.
const std::string kGzipped(
    "\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03\x73\x49\x2C\x49\xD5\xF1\x2F\x48\xCD\xD3\xF1\xC8\x4C\xCF\xD0\xF1"
    "\xC9\x2F\xD7\x71\xCE\xC9\x2F\x4E\xD5\x09\xCB\xCF\x29\xCD\x4D\xE5\x32\x32\x30\x32\xD0\x35\x30\xD4\x35\x30"
    "\xD2\x31\x34\xD0\x31\x34\xD2\xB1\xD4\x31\x34\xD4\x31\x45\x88\x1B\x83\xF8\x86\xC6\x7A\xA6\x50\x79\x33\x84"
    "\x94\x19\x88\x6F\x68\x0A\x56\x60\xA2\x63\xCE\x05\x00\x32\x36\x20\xCB\x6C\x00\x00\x00",
    99);

// One gzip member holding text in stored (uncompressed) deflate blocks of at
// most 7 bytes, written out by hand as the format describes it.
std::string gzip_stored(const std::string& text) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : text) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc = ~crc;
    std::string out("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\xFF", 10);
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(7, text.size() - pos);
        const bool last = pos + n == text.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(n & 0xFF);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(~n & 0xFF);
        out += static_cast<char>((~n >> 8) & 0xFF);
        out += text.substr(pos, n);
        pos += n;
    } while (pos < text.size());
    for (const uint32_t word : {crc, static_cast<uint32_t>(text.size())})
        for (int k = 0; k < 4; ++k) out += static_cast<char>((word >> (8 * k)) & 0xFF);
    return out;
}

// UTF-8 text as UTF-16 with a byte-order mark.
std::string utf16(const std::string& utf8, bool little_endian) {
    std::string out;
    const auto unit = [&](uint32_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += little_endian ? lo : hi;
        out += little_endian ? hi : lo;
    };
    unit(0xFEFF);
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t cp = n == 1 ? b : b & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

class Scan : public testing::Test {
protected:
    void SetUp() override {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        // A fresh name per run: std::rand() unseeded gives every process the
        // same one, and two suites run at once (two build trees) then wrote
        // into and removed each other's folders.
        std::random_device fresh;
        for (;;) {
            dir_ = fs::temp_directory_path() /
                   (std::string("tidemark-scan-") + info->name() + "-" + std::to_string(fresh()));
            if (fs::create_directory(dir_)) break;
        }
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string path(const std::string& name) const { return (dir_ / fs::u8path(name)).u8string(); }

    struct Outcome {
        int status;
        std::string out, err;
    };

    // Runs the whole host in-process against the library under test. out_file
    // names where stdout goes, opened with out_mode ("rb": writes fail).
    Outcome scan(std::vector<std::string> args, const std::string& out_file = "",
                 const char* out_mode = "wb") const {
        args.insert(args.begin(), {"tidemark-scan", "--library", tidemark::loader::library_path()});
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        const std::string out_path = out_file.empty() ? path("stdout.txt") : out_file, err_path = path("stderr.txt");
        if (out_file.empty()) spit(out_path, "");
        std::FILE* out = open_file(out_path, out_mode);
        std::FILE* err = open_file(err_path, "wb");
        const int status = run(static_cast<int>(argv.size()), argv.data(), out, err);
        std::fclose(out);
        std::fclose(err);
        return {status, out_file.empty() ? slurp(out_path) : std::string(), slurp(err_path)};
    }

    // Files in the test's folder other than the captured output and the input.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            const std::string name = entry.path().filename().u8string();
            if (name != "stdout.txt" && name != "stderr.txt" && name != "bars.csv") names.push_back(name);
        }
        std::sort(names.begin(), names.end());
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
    std::string text;  // "<missing>": the file does not exist
    std::string want;  // the message after "FILE"
    ReadOptions options = {};
    std::vector<std::string> args = {};  // the same options on the command line
};

const char* const kNotADate =
    "\" is not a date (YYYY-MM-DD, MM/DD/YYYY, DD.MM.YYYY or Sep 19, 2003, optionally with a time; a month 2003-02, "
    "a week 2003-W09, a quarter 2003Q1; or epoch seconds or milliseconds)";
const char* const kBadTime = "\" has a time of day that cannot be read: write it as 10:30, 10:30:15 or 103015, "
                             "optionally with Z, UTC or an offset such as +02:00";

// Each malformed input gives one line naming the file and line, a non-zero
// status, and no chart, not even a partial one; with --json the same error
// as an object on stdout.
TEST_F(Scan, MalformedInputGivesOneLineErrorAndNoChart) {
    const std::vector<BadInput> cases = {
        {"missing file", "<missing>", ": cannot open: "},
        {"empty file", "", ":1: the file is empty: no bars"},
        {"blank lines only", "\n  \n\n", ":3: the file is empty: no bars"},
        {"header only", "date,open,high,low,close\n", ":1: no bars after the header"},
        {"comments and a header only", "# from my broker\ndate,open,high,low,close\n# end\n",
         ":3: no bars after the header"},
        {"too few fields", "2020-01-02,10,12,9,11\n2020-01-03,11,13,10\n",
         ":2: 4 fields, expected date, open, high, low, close and optional volume"},
        {"a lone date", "2020-01-01,1,2,0,1\n2020-01-02\n",
         ":2: 1 field, expected date, open, high, low, close and optional volume"},
        {"more than six fields, the sixth no volume", "2020-01-02,10,12,9,11,lots,7\n",
         ":1: 7 fields without a header, and fields 2 to 6 are not open, high, low, close and volume: name the "
         "columns by position with --columns date=1,open=2,high=3,low=4,close=5"},
        {"too many fields after six", "2020-01-02,10,12,9,11,100\n2020-01-03,10,12,9,11,100,7\n",
         ":2: 7 fields, expected at most 6: date, open, high, low, close, volume"},
        {"a name for a file without a header", "2020-01-02,10,12,9,11\n",
         ":1: --columns names date=Datum, but the file has no header (its first line is a bar): name its columns by "
         "position, as in --columns date=1,open=2,high=3,low=4,close=5",
         ReadOptions{DateOrder::automatic, {{Role::date, "Datum"}}}, {"--columns", "date=Datum"}},
        {"a position beyond the fields", "2020-01-02,10,12,9,11\n", ":1: --columns names close=9, but the rows have 5 "
         "columns", ReadOptions{DateOrder::automatic, {{Role::date, "1"}, {Role::close, "9"}}},
         {"--columns", "date=1,close=9"}},
        {"positions naming some prices", "2020-01-02,10,12,9,11\n", ":1: --columns must give the date, the close and "
         "either all of open, high and low or none of them (bars of closes alone), as in --columns "
         "date=1,open=2,high=3,low=4,close=5",
         ReadOptions{DateOrder::automatic, {{Role::date, "1"}, {Role::high, "3"}, {Role::close, "5"}}},
         {"--columns", "date=1,high=3,close=5"}},
        // A time of day in the second field is read only with a colon: 0930
        // could be a price.
        {"a time of day that is not one, no header", "2020-01-02,25:00,10,12,9,11,5\n",
         ":1: 7 fields without a header, and fields 2 to 6 are not open"},
        {"fewer fields than the first bar had", "2020-01-02,10,12,9,11,100,7\n2020-01-03,10,12,9,11,100\n",
         ":2: 6 fields, but the first bar, on line 1, has 7"},
        {"row shorter than the header", "date,open,high,low,close\n2020-01-02,10,12,9\n",
         ":2: 4 fields, but the header on line 1 has 5"},
        {"non-numeric close", "date,open,high,low,close\n2020-01-02,10,12,9,eleven\n",
         ":2: close \"eleven\" is not a finite number"},
        // A first row of prices that are not numbers is not a header.
        {"first row without prices", "2020-01-02,n/a,12,9,11\n2020-01-03,10,12,9,11\n",
         ":1: open \"n/a\" is not a finite number"},
        {"one null price among numbers", "Date,Open,High,Low,Close\n2020-01-02,10,null,9,11\n",
         ":2: high \"null\" is not a finite number"},
        {"number with trailing text", "2020-01-02,10,12x,9,11\n", ":1: high \"12x\" is not a finite number"},
        {"empty field", "2020-01-02,10,,9,11\n", ":1: high \"\" is not a finite number"},
        {"NaN price", "2020-01-02,nan,12,9,11\n", ":1: open \"nan\" is not a finite number"},
        {"infinite price", "2020-01-02,10,inf,9,11\n", ":1: high \"inf\" is not a finite number"},
        {"overflowing price", "2020-01-02,10,1e999,9,11\n", ":1: high \"1e999\" is not a finite number"},
        {"hexadecimal price", "2020-01-02,10,0x1p4,9,11\n", ":1: high \"0x1p4\" is not a finite number"},
        {"thousands not in threes", "date;open;high;low;close\n2020-01-02;10;1.23,5;9;11\n",
         ":2: high \"1.23,5\" is not a finite number"},
        {"decimal comma before a point", "date;open;high;low;close\n2020-01-02;10;1,234.5;9;11\n",
         ":2: high \"1,234.5\" is not a finite number"},
        {"a currency sign alone", "2020-01-02,10,$,9,11\n", ":1: high \"$\" is not a finite number"},
        {"a percentage as a price", "2020-01-02,10,12%,9,11\n", ":1: high \"12%\" is not a finite number"},
        {"decimal comma in a comma file", "2020-01-02,10,\"12,5\",9,11\n",
         ":1: high \"12,5\" is not a finite number"},
        {"negative volume", "2020-01-02,10,12,9,11,-5\n", ":1: volume -5 is negative"},
        {"not a date", "2020-01-02,10,12,9,11\nyesterday,10,12,9,11\n", std::string(":2: date \"yesterday") + kNotADate},
        {"two forms of date", "2020-01-02,10,12,9,11\n02/01/2020,10,12,9,11\n",
         ":2: date \"02/01/2020\" is written with day and month in numbers, unlike \"2020-01-02\" on line 1: one "
         "form must hold for the whole file"},
        {"no such day", "2021-02-29,10,12,9,11\n", ":1: date \"2021-02-29\" does not exist: 2021-02 has 28 days"},
        // 1900 is no leap year: a Julian rule would take this for a date.
        {"no leap day in 1900", "1900-02-29,10,12,9,11\n", ":1: date \"1900-02-29\" does not exist: 1900-02 has 28 days"},
        {"no month 13", "2020-13-01,10,12,9,11\n", ":1: date \"2020-13-01\" has no month 13 (months run from 1 to 12)"},
        {"bad time of day", "2020-01-02 24:00,10,12,9,11\n", std::string(":1: date \"2020-01-02 24:00") + kBadTime},
        {"bad offset", "2020-01-02T10:00+2,10,12,9,11\n", std::string(":1: date \"2020-01-02T10:00+2") + kBadTime},
        {"five-digit year", "20030-02-27,10,12,9,11\n",
         ":1: date \"20030-02-27\" has a year of five digits or more: write the year with four (2003-02-27)"},
        {"day-month order not settled", "02/03/2003,10,12,9,11\n03/04/2003,10,12,9,11\n04/05/2003,10,12,9,11\n",
         ":1: date \"02/03/2003\" reads as 2003-02-03 month/day or 2003-03-02 day/month, and no date in the file "
         "has a day above 12 to tell: pass --dates mdy or --dates dmy"},
        {"day-month order contradicted", "02/03/2003,10,12,9,11\n13/03/2003,10,12,9,11\n03/14/2003,10,12,9,11\n",
         ":3: date \"03/14/2003\" reads only month/day, but \"13/03/2003\" on line 2 reads only day/month: one order "
         "must hold for the whole file (write the dates as YYYY-MM-DD)"},
        {"a day the order makes impossible", "13/01/2003,10,12,9,11\n30/02/2003,10,12,9,11\n",
         ":2: date \"30/02/2003\" does not exist read day/month (the file's order): write it as YYYY-MM-DD, or "
         "choose the order with --dates mdy, dmy or ymd"},
        {"the order chosen makes it impossible", "02/13/2003,10,12,9,11\n", ":1: date \"02/13/2003\" does not exist "
         "read day/month (as --dates asks): write it as YYYY-MM-DD, or choose another order with --dates",
         ReadOptions{DateOrder::dmy, {}}, {"--dates", "dmy"}},
        {"spreadsheet day numbers", "Date,Open,High,Low,Close\n37679,10,12,9,11\n37680,10,12,9,11\n",
         ":2: date \"37679\" looks like a spreadsheet's serial day number (2003-02-27 if it is one), not a date: "
         "format the column as dates (YYYY-MM-DD) before saving, or pass --dates serial to read day numbers"},
        // Asked for day numbers, day 60 is a day that never was, and the
        // advice is not to ask for them again.
        {"day 60, as asked", "60,10,12,9,11\n", ":1: date \"60\" is day 60 of a spreadsheet's count, 1900-02-29, "
         "a day that never was (the count takes 1900 for a leap year)", ReadOptions{DateOrder::serial},
         {"--dates", "serial"}},
        {"day 59, as asked", "59,10,12,9,11\n", ":1: date \"59\" is day 59 of a spreadsheet's count, 1900-02-28, "
         "before 1901-12-13 20:45:52 UTC, the earliest time a bar record holds", ReadOptions{DateOrder::serial},
         {"--dates", "serial"}},
        {"day 61, as asked", "61,10,12,9,11\n", ":1: date 61 is outside 1901-12-13", ReadOptions{DateOrder::serial},
         {"--dates", "serial"}},
        {"several symbols", "Symbol,Date,Open,High,Low,Close\nAAA,2020-01-02,10,12,9,11\nAAA,2020-01-03,10,12,9,11\n"
         "BBB,2020-01-02,20,22,19,21\n",
         ":4: symbol \"BBB\" in column Symbol is not \"AAA\" of line 2: the file holds several symbols; choose one "
         "with --symbol NAME, or save each in a file of its own to screen them"},
        {"a symbol chosen that is not there", "Symbol,Date,Open,High,Low,Close\nAAA,2020-01-02,10,12,9,11\n",
         ":2: no row has the symbol \"ZZZ\" chosen by --symbol (1 row of another); the file's symbols: AAA",
         ReadOptions{DateOrder::automatic, {}, "ZZZ"}, {"--symbol", "ZZZ"}},
        {"a symbol chosen in a file without symbols", "Date,Open,High,Low,Close\n2020-01-02,10,12,9,11\n",
         ":2: --symbol chooses \"ZZZ\", but the file has no symbol column (named symbol, ticker or <TICKER>)",
         ReadOptions{DateOrder::automatic, {}, "ZZZ"}, {"--symbol", "ZZZ"}},
        {"a header in another language", "Datum;Eröffnung;Hoch;Tief;Schluss\n27.02.2003;10;12;9;11\n",
         ":1: neither a header naming the date, open, high, low and close columns nor a bar: date \"Datum\" is not a "
         "date; if it is a header, name the columns with --columns date=NAME,open=NAME,high=NAME,low=NAME,close=NAME"},
        {"a column named that is not there", "Datum;Eröffnung;Hoch;Tief;Schluss\n27.02.2003;10;12;9;11\n",
         ":1: --columns names close=Schlusskurs, but the header has no column named \"Schlusskurs\"",
         ReadOptions{DateOrder::automatic, {{Role::date, "Datum"}, {Role::close, "Schlusskurs"}}},
         {"--columns", "date=Datum,close=Schlusskurs"}},
        {"a column the user did not name", "Datum;Eröffnung;Hoch;Tief;Schluss\n27.02.2003;10;12;9;11\n",
         ":1: the header has no columns named high, low: name the columns with --columns "
         "date=NAME,open=NAME,high=NAME,low=NAME,close=NAME",
         ReadOptions{DateOrder::automatic, {{Role::date, "Datum"}, {Role::close, "Schluss"}, {Role::open, "Eröffnung"}}},
         {"--columns", "date=Datum,close=Schluss,open=Eröffnung"}},
        {"date a bar record cannot hold", "2038-01-20,10,12,9,11\n",
         ":1: date 2038-01-20 is outside 1901-12-13 20:45:52 .. 2038-01-19 03:14:07 UTC, the range of a bar "
         "record's time (int32 seconds since 1970)"},
        {"offset pushes it out", "2038-01-19T03:14:07-00:01,10,12,9,11\n",
         ":1: date 2038-01-19T03:14:07-00:01 is outside"},
        // Twelve digits: seconds beyond 2038, or milliseconds of 1973 to 2001.
        {"epoch milliseconds of twelve digits", "978307200000,10,12,9,11\n",
         ":1: date 978307200000 is outside 1901-12-13 20:45:52 .. 2038-01-19 03:14:07 UTC, the range of a bar "
         "record's time (int32 seconds since 1970); epoch milliseconds? --dates ms reads them"},
        {"epoch time of fifteen digits", "978307200000000,10,12,9,11\n",
         ":1: date \"978307200000000\" has 15 digits, which tell no unit of epoch time (seconds have up to 10 "
         "digits, milliseconds 13, microseconds 16, nanoseconds 19): pass --dates ms, us or ns to choose"},
        {"epoch milliseconds, then seconds", "1577923200000,10,12,9,11\n1578009600,10,12,9,11\n",
         ":2: date \"1578009600\" has 10 digits, unlike the epoch milliseconds of \"1577923200000\" on line 1: one "
         "form must hold for the whole file"},
        {"epoch nanoseconds beyond 2038", "9223372036854775808,10,12,9,11\n",
         ":1: date 9223372036854775808 is outside"},
        {"high below low", "2020-01-02,10,12,9,11\n2020-01-03,10,9,9.5,9.2\n", ":2: high 9 is below low 9.5"},
        {"open below low", "2020-01-02,8.5,12,9,11\n", ":1: open 8.5 is below low 9"},
        {"open above high", "2020-01-02,12.5,12,9,11\n", ":1: open 12.5 is above high 12"},
        {"close below low", "2020-01-02,10,12,9,-11\n", ":1: close -11 is below low 9"},
        {"close above high", "2020-01-02,10,12,9,13\n", ":1: close 13 is above high 12"},
        {"range beyond a double", "2020-01-02,1,1e308,-1e308,1\n",
         ":1: the range high - low (1e308 - -1e308) is beyond the range of a double"},
        {"dates out of order", "2020-01-03,10,12,9,11\n2020-01-02,10,12,9,11\n2020-01-06,10,12,9,11\n",
         ":2: date 2020-01-02 comes before 2020-01-03, the bar before it: the bars run oldest first (by their "
         "first and last dates), one bar per date"},
        {"newest first with one out of place",
         "2020-01-08,10,12,9,11\n2020-01-06,10,12,9,11\n2020-01-07,10,12,9,11\n2020-01-02,10,12,9,11\n",
         ":3: date 2020-01-07 comes after 2020-01-06, the bar before it: the bars run newest first (by their first "
         "and last dates), one bar per date"},
        {"unknown header names", "d,o,h,l,c\n2020-01-02,10,12,9,11\n\n2020-01-02,10,12,9,11\n",
         ":1: neither a header naming the date, open, high, low and close columns nor a bar: date \"d\" is not a "
         "date"},
        {"repeated date after a header", "Date,Open,High,Low,Close\n2020-01-02,10,12,9,11\n\n2020-01-02,10,12,9,11.5\n",
         ":4: date 2020-01-02 repeats the date of the bar before it: one bar per date"},
        {"pasted downloads that disagree",
         "Date,Open,High,Low,Close\n2020-01-02,10,12,9,11\n2020-01-03,10,12,9,11\nDate,Open,High,Low,Close\n"
         "2020-01-03,10,12,9,10\n2020-01-06,10,12,9,11\n",
         ":5: date 2020-01-03 repeats the date on line 3 with other prices: one bar per date"},
        {"times out of order",
         "2020-01-02 10:00,10,12,9,11\n2020-01-02 09:59:59,10,12,9,11\n2020-01-02 11:00,10,12,9,11\n",
         ":2: date 2020-01-02 09:59:59 comes before 2020-01-02 10:00, the bar before it: the bars run oldest first"},
        {"header without a close", "Date,Open,High,Low,Settle\n2020-01-02,10,12,9,11\n",
         ":1: the header has no column named close: name the columns with --columns"},
        {"two closes of one rank", "Date,Open,High,Low,Price,Price (USD)\n2020-01-02,10,12,9,11,11\n",
         ":1: columns 5 and 6 are both named Price (USD)"},
        {"header without a date", "Day,Open,High,Low,Close\n2020-01-02,10,12,9,11\n",
         ":1: the header has no date column (named date, time, datetime or timestamp)"},
        {"header naming a column twice", "date,open,high,low,close,Close\n2020-01-02,10,12,9,11,11\n",
         ":1: columns 5 and 6 are both named Close"},
        {"comment, then a header that is not one", "# prices\nDatum,Eroeffnung,Hoch,Tief,Schluss\n",
         ":2: neither a header naming the date, open, high, low and close columns nor a bar"},
        {"quoted field not closed", "2020-01-02,\"10,12,9,11\n", ":1: a quoted field is not closed on its line"},
        {"text after a quoted field", "2020-01-02,\"10\"x,12,9,11\n",
         ":1: text follows a quoted field before the separator"},
        // UTF-16 with a mark is read as text.
        {"UTF-16 with a byte-order mark", std::string("\xFF\xFE" "d\0a\0t\0e\0", 10),
         ":1: the header has no columns named open, high, low, close"},
        {"UTF-16 with an unpaired surrogate", utf16("2020-01-02,1", true) + std::string("\x00\xD8", 2) + utf16("0,12,9,11\n", true).substr(2),
         ":1: open \"1\xEF\xBF\xBD" "0\" is not a finite number"},
        // A pair of surrogates is one character, U+1F600, shown as its four bytes.
        {"UTF-16 with a surrogate pair in a price", utf16("2020-01-02,1\xF0\x9F\x98\x80,12,9,11\n", true),
         ":1: open \"1\xF0\x9F\x98\x80\" is not a finite number"},
        {"big-endian UTF-16 with a surrogate pair in a price", utf16("2020-01-02,10,12,9,\xF0\x9F\x98\x80\n", false),
         ":1: close \"\xF0\x9F\x98\x80\" is not a finite number"},
        // An odd byte at the end is a character cut short, never dropped.
        {"UTF-16 with an odd last byte", utf16("2020-01-02,10,12,9,11", true) + "7",
         ":1: close \"11\xEF\xBF\xBD\" is not a finite number"},
        {"Windows-1252 quotes in a price", "2020-01-02,\x93" "10\x94,12,\x91" "9\x92,11\n",
         ":1: open \"\xE2\x80\x9C" "10\xE2\x80\x9D\" is not a finite number"},
        {"a date repeated with another volume", "2020-01-02,10,12,9,11,100\n2020-01-02,10,12,9,11,200\n",
         ":2: date 2020-01-02 repeats the date of the bar before it: one bar per date"},
        {"pasted downloads that differ in a volume",
         "Date,Open,High,Low,Close,Volume\n2020-01-02,10,12,9,11,5\n2020-01-03,10,12,9,11,5\n"
         "Date,Open,High,Low,Close,Volume\n2020-01-03,10,12,9,11,6\n2020-01-06,10,12,9,11,5\n",
         ":5: date 2020-01-03 repeats the date on line 3 with other prices: one bar per date"},
        {"eleven title lines", std::string("t1\nt2\nt3\nt4\nt5\nt6\nt7\nt8\nt9\nt10\nt11\n") + kGood,
         ":11: neither a header naming the date, open, high, low and close columns nor a bar: date \"t11\""},
        // Near misses of this round's rules: each could be a damaged bar, or
        // reads two ways, and is refused.
        {"numbers under the header without a date", "Date,Open,High,Low,Close\n,10,12,9,11\n2020-01-02,10,12,9,11\n",
         ":2: date \"\" is not a date"},
        {"a damaged bar after the bars", std::string(kGood) + "2020-01-09,10,12\n",
         ":7: 3 fields, but the header on line 1 has 6"},
        {"numbers alone after the bars", "2020-01-02,10,12,9,11\n10,12,9\n",
         ":2: 3 fields, expected date, open, high, low, close and optional volume"},
        {"a bar cut inside its date", "2020-01-02,10,12,9,11\n2020-01-0\n",
         ":2: 1 field, expected date, open, high, low, close and optional volume"},
        {"a row of totals after the bars", "Date,Open,High,Low,Close\n2020-01-02,10,12,9,11\nTotals,10,12,9,11\n",
         std::string(":3: date \"Totals") + kNotADate},
        {"a spreadsheet error among numbers", "Date,Open,High,Low,Close\n2020-01-02,10,#N/A,9,11\n",
         ":2: high \"#N/A\" is not a finite number"},
        {"a decimal comma after a point, tabs", "Date\tOpen\tHigh\tLow\tClose\n2020-01-02\t10.5\t12\t9\t11\n"
         "2020-01-03\t10\t12,5\t9\t11\n",
         ":3: high \"12,5\" has a decimal comma, but \"10.5\" on line 2 has a point: a tab-separated file takes one "
         "decimal mark"},
        {"a point after a decimal comma, tabs", "Date\tOpen\tHigh\tLow\tClose\n2020-01-02\t10,5\t12\t9\t11\n"
         "2020-01-03\t10\t12.5\t9\t11\n",
         ":3: high \"12.5\" has a point, but this tab-separated file writes its decimals with a comma (\"10,5\" on line "
         "2): write every price one way"},
        {"a decimal comma after thousands, tabs", "Date\tOpen\tHigh\tLow\tClose\n2020-01-02\t1,010\t1,012\t1,009\t"
         "1,011\n2020-01-03\t10\t12,5\t9\t11\n",
         ":3: high \"12,5\" has a decimal comma, but \"1,010\" on line 2 was read with a thousands separator: write the "
         "prices with a point, or separate the fields with \";\""},
        {"Indian groups after three", "2020-01-02,10,\"123,45,678\",9,11\n", ":1: high \"123,45,678\" is not a finite"},
        {"a Swiss apostrophe in twos", "2020-01-02,10,1'55'800,9,11\n", ":1: high \"1'55'800\" is not a finite"},
        {"an open without high and low", "Date,Open,Close\n2020-01-02,10,11\n",
         ":1: the header has no columns named high, low: name the columns with --columns"},
        {"a table with a column of text", "Date,IBM,Notes\n2020-01-02,10,closed early\n",
         ":1: the header has no columns named open, high, low, close: name the columns with --columns"},
        {"a symbol no column of a table has", "Date,IBM,AAPL\n2020-01-02,10,11\n",
         ":1: --symbol chooses \"XOM\", but no column of this table of closes is named so (its symbols: IBM, AAPL)",
         ReadOptions{DateOrder::automatic, {}, "XOM"}, {"--symbol", "XOM"}},
        {"the open taken as the close", "Date,Open,High,Low,Close\n2020-01-02,10,12,9,11\n",
         ":1: --columns close=Open takes column Open as the close, which leaves no open column: name one with "
         "--columns close=Open,open=NAME",
         ReadOptions{DateOrder::automatic, {{Role::close, "Open"}}}, {"--columns", "close=Open"}},
        {"a month 13", "Date,Close\n2003-13,1\n", ":2: date \"2003-13\" has no month 13 (months run from 1 to 12)"},
        {"a week 54", "Date,Close\n2003-W54,1\n", ":2: date \"2003-W54\" has no week 54: 2003 has 52 ISO weeks"},
        {"a quarter 5", "Date,Close\n2003Q5,1\n", ":2: date \"2003Q5\" has no quarter 5 (quarters run from 1 to 4)"},
        {"a month or epoch seconds", "Date,Close\n200302,1\n",
         ":2: date \"200302\" reads as the month 2003-02 or as epoch seconds of 1970-01-03: write months as 2003-02"},
        {"months, then a day", "Date,Close\n2003-01,1\n2003-02,1\n2003-02-03,1\n",
         ":4: date \"2003-02-03\" is written year first, unlike \"2003-01\" on line 2: one form must hold"},
        {"a month and two digits", "Date,Close\nFeb-03,1\n", ":2: date \"Feb-03\" is a month and two digits, a day of "
         "no year or a year of two digits: write a month as 2004-08 (or Aug 2004), a day as 2004-08-04"},
        // Taken by position, the first bar does not hold: the message says
        // how the columns were taken, and how to name them.
        {"a time without a colon, no header", "20200102,093000,10,12,9,11,5\n",
         ":1: high 10 is below low 12 (the fields were taken by position as date, open, high, low, close and "
         "volume: name them with --columns date=1,open=2,high=3,low=4,close=5, adding time=N for a time of day)"},
        {"a web page", "<!DOCTYPE html>\n<html><head><title>Sign in</title></head></html>\n",
         ":1: a web page (HTML or XML), not a CSV file: the download failed or was sent to a login page"},
        {"a service's answer in JSON", "{\"Note\": \"Thank you for using our API. Our standard call frequency is 5 calls "
         "per minute.\"}\n", ":1: JSON, not CSV: the service answered \"Thank you for using our API. Our standard call "
         "frequency is 5 calls per minute.\" instead of the data (a failed download?)"},
        {"one line of text", "Too Many Requests\n",
         ":1: the file holds text alone, no header and no bars: \"Too Many Requests\" (a failed download?)"},
        {"gzip cut short", kGzipped.substr(0, 50), ": cannot read: the gzip data ends early (the file is cut short)"},
        {"gzip damaged", kGzipped.substr(0, 30) + "\xFF\xFF\xFF" + kGzipped.substr(33),
         ": cannot read: the gzip data is damaged"},
        {"gzip of zero bytes", gzip_stored(std::string(64, '\0')), ": not a text file"},
        // Cut short between characters, never inside one.
        {"a long field of three-byte characters", [] {
             std::string euros;
             for (int k = 0; k < 20; ++k) euros += "\xE2\x82\xAC";
             return "2020-01-02," + euros + ",12,9,11\n";
         }(),
         [] {
             std::string euros;
             for (int k = 0; k < 14; ++k) euros += "\xE2\x82\xAC";
             return ":1: open \"" + euros + "...\" is not a finite number";
         }()},
        {"Windows-1252 in a field", "2020-01-02,12\xB0,13,9,11\n", ":1: open \"12\xC2\xB0\" is not a finite number"},
        {"Windows-1252 in a header named twice", "date,open,high,low,close,Close\x80\n",
         ":1: columns 5 and 6 are both named Close\xE2\x82\xAC"},
        {"UTF-16 without one", std::string("d\0a\0t\0e\0,\0", 10), ": the file looks like UTF-16 text"},
        {"big-endian UTF-16 without one", std::string("\0d\0a\0t\0e\0,", 10), ": the file looks like UTF-16 text"},
        {"zero bytes only", std::string(4096, '\0'), ": not a text file"},
        {"a lone zero byte", std::string(1, '\0'), ": not a text file"},
        {"zero bytes after a bar", "2020-01-02,10,12,9,11\n" + std::string(100, '\0'), ": not a text file"},
        {"control bytes in a field", "2020-01-02,1\x01" "0,12,9,11\n", ":1: open \"1\\x010\" is not a finite number"},
        {"a long field", "2020-01-02,10,12,9,1234567890123456789012345678901234567890x\n",
         ":1: close \"1234567890123456789012345678901234567890...\" is not a finite number"},
        {"fault deep in a CRLF file",
         "date,open,high,low,close\r\n2020-01-02,10,12,9,11\r\n2020-01-03,10,12,9,11\r\n2020-01-06,10,12,13,11\r\n",
         ":4: high 12 is below low 13"},
        {"fault deep in a CR file",
         "date,open,high,low,close\r2020-01-02,10,12,9,11\r2020-01-03,10,12,9,11\r2020-01-06,10,12,13,11\r",
         ":4: high 12 is below low 13"},
    };
    for (const BadInput& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string csv = path("bars.csv");
        std::error_code ignored;
        fs::remove(fs::u8path(csv), ignored);
        if (c.text != "<missing>") spit(csv, c.text);

        BarSeries series;
        ReadError error;
        EXPECT_FALSE(read_bars(csv, series, error, nullptr, c.options));
        const std::string text = error.text();
        EXPECT_EQ(text.compare(0, csv.size() + c.want.size(), csv + c.want), 0) << text;
        std::string as_text;
        EXPECT_FALSE(read_bars(csv, series, as_text, nullptr, c.options));
        EXPECT_EQ(as_text, text);
        if (c.text != "<missing>") {
            MemorySource chunks(c.text, 3);
            ReadError streamed;
            EXPECT_FALSE(read_series(csv, chunks, series, streamed, nullptr, c.options));
            EXPECT_EQ(streamed.text(), text);
        }
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
        EXPECT_TRUE(series.bars.empty());

        // The whole host: same line, a failure status, no chart and no
        // temporary file; a chart already there is left as it was.
        const std::string chart = path("chart.svg");
        const std::string older = "<svg xmlns=\"http://www.w3.org/2000/svg\"><!-- an older chart --></svg>\n";
        spit(chart, older);
        std::vector<std::string> args = {csv, "--svg", chart};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome r = scan(args);
        EXPECT_EQ(r.status, kBadInput);
        EXPECT_EQ(r.err, "tidemark-scan: " + text + "\n");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(slurp(chart), older);
        fs::remove(fs::u8path(chart));
        args.push_back("--json");
        const Outcome j = scan(args);
        EXPECT_EQ(j.status, kBadInput);
        EXPECT_FALSE(fs::exists(fs::u8path(chart)));
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
        const Json e = parsed(j.out);
        EXPECT_EQ(e["file"], csv);
        EXPECT_EQ(e["error"], error.what);
        if (error.line > 0) {
            EXPECT_EQ(e["line"], error.line);
        } else {
            EXPECT_TRUE(e["line"].is_null());
        }
    }
}

// The same three bars, 2020-01-02, 01-03 and 01-06, written in every form
// the reader takes.
TEST(ScanInput, ReadsTheFormsPeopleHave) {
    struct Form {
        const char* name;
        std::string text;
        bool newest_first;
        double volume;  // of the last bar
    };
    const std::vector<Form> forms = {
        {"header, volume", "date,open,high,low,close,volume\n2020-01-02,10,12,9,11,5\n"
                           "2020-01-03,11,13.5,10,12,6\n2020-01-06,12,15,11,14,7\n", false, 7},
        {"no header, CRLF, no trailing newline", "2020-01-02,10,12,9,11,5\r\n"
                                                 "2020-01-03,11,13.5,10,12,6\r\n2020-01-06,12,15,11,14,7", false, 7},
        {"CR line ends", "Date,Open,High,Low,Close\r2020-01-02,10,12,9,11\r2020-01-03,11,13.5,10,12\r"
                         "2020-01-06,12,15,11,14\r", false, 0},
        {"byte-order mark, quotes, spaces, blank lines",
         "\xEF\xBB\xBF\"Date\",\"Open\",\"High\",\"Low\",\"Close\",\"Volume\"\n\n"
         "\"2020-01-02\", 10 ,12,9,11,5\n  \n2020-01-03,11,13.5,10,12,6\n2020-01-06,12,15,11,14,7\n\n", false, 7},
        {"columns in another order, extra columns",
         "Symbol,Close,Adj Close,Low,Date,High,Volume,Open\n\"ACME, Inc.\",11,10.5,9,2020-01-02,12,5,10\n"
         "\"ACME, Inc.\",12,11.5,10,2020-01-03,13.5,6,11\n\"ACME, Inc.\",14,13.5,11,2020-01-06,15,7,12\n", false, 7},
        {"comments before the header", "# exported 2020-01-07\n# prices in USD\nDATE,OPEN,HIGH,LOW,CLOSE\n"
                                       "2020-01-02,10,12,9,11\n# a note\n2020-01-03,11,13.5,10,12\n"
                                       "2020-01-06,12,15,11,14\n", false, 0},
        {"semicolons and decimal commas", "Datum;Date;Open;High;Low;Close;Volume\nx;2020-01-02;10;12;9;11;5\n"
                                          "y;2020-01-03;11;13,5;10;12;6\nz;2020-01-06;12;15;11;14;7,0\n", false, 7},
        {"tabs, newest first", "date\topen\thigh\tlow\tclose\n2020-01-06\t12\t15\t11\t14\n"
                               "2020-01-03\t11\t13.5\t10\t12\n2020-01-02\t10\t12\t9\t11\n", true, 0},
        // The time moves the date: dropped, the first bar would fall on 01-01.
        {"a time of many digits", "date,time,open,high,low,close\n2020-01-01,22:00:00." + std::string(200, '0') +
                                  "-02:00,10,12,9,11\n2020-01-03,00:00,11,13.5,10,12\n2020-01-06,00:00,12,15,11,14\n",
         false, 0},
        {"a date and a time column", "<DATE>\t<TIME>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\t<TICKVOL>\t<VOL>\n"
                                     "2020.01.02\t00:00:00\t10\t12\t9\t11\t3\t5\n"
                                     "2020.01.03\t00:00:00\t11\t13.5\t10\t12\t3\t6\n"
                                     "2020.01.06\t00:00:00\t12\t15\t11\t14\t3\t7\n", false, 7},
        {"other date forms", "2020/01/02,10,12,9,11,5\n2020.1.3,11,13.5,10,12,6\n20200106,12,15,11,14,7\n", false, 7},
        // Daily bars at local midnight keep their dates, whatever the offset
        // (it changes with summer time); on UTC they would fall the day before.
        {"local midnights, summer time and winter time",
         "date,open,high,low,close\n2020-01-02T00:00:00+01:00,10,12,9,11\n2020-01-03T00:00:00+02:00,11,13.5,10,12\n"
         "2020-01-06T00:00:00+01:00,12,15,11,14\n", false, 0},
        {"a time column left empty", "Date,Time,Open,High,Low,Close\n2020-01-02,,10,12,9,11\n2020-01-03, ,11,13.5,10,12\n"
                                     "2020-01-06,00:00,12,15,11,14\n", false, 0},
        {"midnight date-times with offsets and fractions",
         "timestamp,open,high,low,close\n2020-01-02 00:00,10,12,9,11\n2020-01-03T02:00:00.250+02:00,11,13.5,10,12\n"
         "2020-01-05T19:00:00-0500,12,15,11,14\n", false, 0},
        {"epoch seconds", "time,open,high,low,close\n1577923200,10,12,9,11\n1578009600.0,11,13.5,10,12\n"
                          "1578268800,12,15,11,14\n", false, 0},
        {"signs and exponents", "2020-01-02,+10,1.2e1,9.0,11\n2020-01-03,11,13.5,1e1,12\n2020-01-06,12,15,11,.14e2\n",
         false, 0},
        // Counted outside quotes, ";" is the separator; counted inside them
        // too, "," would be, and no row would have its columns.
        {"separators inside quotes on the first line",
         "Date;Open;High;Low;Close;\"Note, with, more, commas, than, there, are, semicolons\"\n"
         "2020-01-02;10;12;9;11;a\n"
         "2020-01-03;11;13,5;10;12;b\n2020-01-06;12;15;11;14;c\n", false, 0},
        // The doubled quote is a quote inside the field, not its end.
        {"doubled quotes inside quoted fields",
         "date,\"the \"\"open\"\", as sent\",open,high,low,close\n2020-01-02,\"say \"\"hi\"\", twice\",10,12,9,11\n"
         "2020-01-03,\"\"\"\"\"\",11,13.5,10,12\n2020-01-06,\"x\"\"\",12,15,11,14\n", false, 0},
        // The first line end lies past the bytes that tell what the file is:
        // read in small chunks, it is told across two of them.
        {"a first line longer than the head, CRLF", "#" + std::string(5000, 'c') + "\r\n2020-01-02,10,12,9,11\r\n"
                                                  "2020-01-03,11,13.5,10,12\r\n2020-01-06,12,15,11,14\r\n", false, 0},
        {"a first line longer than the head, CR", "#" + std::string(5000, 'c') + "\r2020-01-02,10,12,9,11\r"
                                                "2020-01-03,11,13.5,10,12\r2020-01-06,12,15,11,14\r", false, 0},
        {"gzip-compressed", kGzipped, false, 7},
        {"gzip, two members of stored blocks",
         gzip_stored("date,open,high,low,close\n2020-01-02,10,12,9,11\n2020-01-0") +
             gzip_stored("3,11,13.5,10,12\n2020-01-06,12,15,11,14\n"),
         false, 0},
        {"UTF-16, little-endian, names in any script",
         utf16("Date,Open,High,Low,Close,Nom\n2020-01-02,10,12,9,11,Soci\xC3\xA9t\xC3\xA9\n"
               "2020-01-03,11,13.5,10,12,\xE2\x82\xAC \xF0\x9F\x98\x80\n2020-01-06,12,15,11,14,\xE6\xA0\xAA\n", true),
         false, 0},
        {"UTF-16, big-endian, CRLF", utf16("2020-01-02,10,12,9,11\r\n2020-01-03,11,13.5,10,12\r\n"
                                           "2020-01-06,12,15,11,14\r\n", false), false, 0},
        {"UTF-16 inside gzip", gzip_stored(utf16("2020-01-02,10,12,9,11\n2020-01-03,11,13.5,10,12\n"
                                                 "2020-01-06,12,15,11,14\n", true)), false, 0},
        {"Windows-1252 in a name column and an unused header name",
         "Name;Date;Open;High;Low;Close;Cl\xF4ture ajust\xE9" "e\nSoci\xE9t\xE9;2020-01-02;10;12;9;11;1\n"
         "\x80" "uro;2020-01-03;11;13,5;10;12;1\nNa\xEFve;2020-01-06;12;15;11;14;1\n", false, 0},
        // The mark is not part of the first date.
        {"byte-order mark, no header", "\xEF\xBB\xBF" "2020-01-02,10,12,9,11\n2020-01-03,11,13.5,10,12\n"
                                      "2020-01-06,12,15,11,14\n", false, 0},
    };
    for (const Form& f : forms) {
        SCOPED_TRACE(f.name);
        BarSeries s;
        ReadError error;
        ASSERT_TRUE(parse_bars("x.csv", f.text, s, error)) << error.text();
        for (std::size_t chunk : {1, 2, 3, 5, 64}) {
            MemorySource chunks(f.text, chunk);
            BarSeries streamed;
            ASSERT_TRUE(read_series("x.csv", chunks, streamed, error)) << chunk << ": " << error.text();
            ASSERT_EQ(streamed.bars.size(), s.bars.size());
            EXPECT_EQ(std::memcmp(streamed.bars.data(), s.bars.data(), s.bars.size() * sizeof(Bar)), 0) << chunk;
        }
        ASSERT_EQ(s.bars.size(), 3u);
        EXPECT_FALSE(s.intraday);
        EXPECT_EQ(s.newest_first, f.newest_first);
        EXPECT_EQ(s.bars[0].time, 1577923200);  // 2020-01-02 00:00 UTC
        EXPECT_EQ(s.bars[1].time, 1578009600);
        EXPECT_EQ(s.bars[2].time, 1578268800);
        EXPECT_EQ(s.bars[0].open, 10.0);
        EXPECT_EQ(s.bars[1].open, 11.0);
        EXPECT_EQ(s.bars[1].high, 13.5);
        EXPECT_EQ(s.bars[1].low, 10.0);
        EXPECT_EQ(s.bars[1].close, 12.0);
        EXPECT_EQ(s.bars[2].close, 14.0);
        EXPECT_EQ(s.bars[2].volume, f.volume);
    }
    // Negative prices are prices.
    BarSeries s;
    ReadError error;
    ASSERT_TRUE(parse_bars("x.csv", "2020-01-02,-10,-9,-12,-11\n", s, error)) << error.text();
    EXPECT_EQ(s.bars[0].low, -12.0);
    ASSERT_TRUE(parse_bars("x.csv", "2020-01-02 13:45:30,10,12,9,11\n", s, error)) << error.text();
    EXPECT_EQ(s.bars[0].time, 1577923200 + 13 * 3600 + 45 * 60 + 30);
    EXPECT_TRUE(s.intraday);
}

// Rules that look back: the day-month order settled by a later date puts the
// dates read before it right; offsets first written on a later row still
// give every local midnight its written date; a byte-order mark is dropped
// however the bytes arrive; ten title lines are the most.
TEST(ScanInput, LaterRowsPutEarlierOnesRight) {
    const auto day = [](int m, int d) { return utc_seconds(2020, m, d, 0, 0, 0); };
    std::string long_bom = "\xEF\xBB\xBF";
    for (int i = 0; i < 200; ++i) long_bom += time_text(day(1, 1) + 86400 * i, false) + ",10,12,9,11\n";
    ASSERT_GT(long_bom.size(), 4096u);
    std::string ten_titles;
    for (int i = 1; i <= 10; ++i) ten_titles += "Title " + std::to_string(i) + "\n";
    struct Case {
        const char* name;
        std::string text;
        std::vector<int64_t> times;  // the first bars, oldest first
        bool intraday;
    };
    const std::vector<Case> cases = {
        {"day first, told by the second date", "01/02/2020,10,12,9,11\n13/02/2020,10,12,9,11\n",
         {day(2, 1), day(2, 13)}, false},
        {"day first, told late", "01/02/2020,1,2,0,1\n03/02/2020,1,2,0,1\n05/02/2020,1,2,0,1\n28/02/2020,1,2,0,1\n",
         {day(2, 1), day(2, 3), day(2, 5), day(2, 28)}, false},
        {"month first, told by the second date", "02/01/2020,10,12,9,11\n02/13/2020,10,12,9,11\n",
         {day(2, 1), day(2, 13)}, false},
        {"day first, newest first", "13/02/2020,1,2,0,1\n01/02/2020,1,2,0,1\n", {day(2, 1), day(2, 13)}, false},
        {"offsets from the third row on",
         "2020-01-02,1,2,0,1\n2020-01-03,1,2,0,1\n2020-01-06T00:00:00+09:00,1,2,0,1\n2020-01-07T00:00:00+09:00,1,2,0,1\n",
         {day(1, 2), day(1, 3), day(1, 6), day(1, 7)}, false},
        {"offsets from the second row on, west",
         "2020-01-02T00:00:00Z,1,2,0,1\n2020-01-03T00:00:00-05:00,1,2,0,1\n", {day(1, 2), day(1, 3)}, false},
        {"a mark, then more than 4 KiB", long_bom, {day(1, 1), day(1, 2)}, false},
        {"ten title lines", ten_titles + kGood, {day(1, 2), day(1, 3)}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::size_t chunk : {std::size_t{0}, std::size_t{3}, std::size_t{5000}}) {
            MemorySource source(c.text, chunk);
            BarSeries s;
            ReadError error;
            ASSERT_TRUE(read_series("late.csv", source, s, error)) << chunk << ": " << error.text();
            ASSERT_GE(s.bars.size(), c.times.size());
            for (std::size_t i = 0; i < c.times.size(); ++i)
                EXPECT_EQ(s.bars[i].time, c.times[i]) << "bar " << i << ": " << time_text(s.bars[i].time, true);
            EXPECT_EQ(s.intraday, c.intraday);
        }
    }
    // Windows-1252's curly quotes, each the one it is.
    EXPECT_EQ(from_windows_1252("\x91" "a\x92 \x93" "b\x94"), "\xE2\x80\x98" "a\xE2\x80\x99 \xE2\x80\x9C" "b\xE2\x80\x9D");
    EXPECT_EQ(shown("\x93x\x94"), "\xE2\x80\x9Cx\xE2\x80\x9D");
}

// Bars of a week, a month or a quarter, each dated by its first day (a week
// by its ISO Monday); a window's end takes in the whole period it names.
TEST(ScanInput, BarsOfLongerPeriods) {
    const auto day = [](int y, int m, int d) { return utc_seconds(y, m, d, 0, 0, 0); };
    struct Case {
        const char* name;
        std::string text;
        BarPeriod period;
        std::vector<int64_t> times;
    };
    const std::vector<Case> cases = {
        {"months, year first", "Date,Close\n2019-12,1\n2020-01,2\n2020/2,3\n", BarPeriod::month,
         {day(2019, 12, 1), day(2020, 1, 1), day(2020, 2, 1)}},
        {"months by name, newest first", "Month,Open,High,Low,Close\nFebruary 2020,1,2,0,1\nJan 2020,1,2,0,1\n"
         "Dec-2019,1,2,0,1\n", BarPeriod::month, {day(2019, 12, 1), day(2020, 1, 1), day(2020, 2, 1)}},
        {"ISO weeks", "Week,Close\n2020-W01,1\n2020-W53,2\n2021W01,3\n", BarPeriod::week,
         {day(2019, 12, 30), day(2020, 12, 28), day(2021, 1, 4)}},
        {"quarters", "Quarter,Close\n2019Q4,1\n2020-Q1,2\n2020 Q2,3\n", BarPeriod::quarter,
         {day(2019, 10, 1), day(2020, 1, 1), day(2020, 4, 1)}},
        {"quarters, quarter first", "Date,Close\nQ3 2020,1\nQ4-2020,2\n", BarPeriod::quarter,
         {day(2020, 7, 1), day(2020, 10, 1)}},
        {"days", "Date,Close\n2020-01-02,1\n", BarPeriod::written, {day(2020, 1, 2)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BarSeries s;
        ReadError error;
        ASSERT_TRUE(parse_bars("p.csv", c.text, s, error)) << error.text();
        EXPECT_EQ(s.period, c.period);
        EXPECT_FALSE(s.intraday);
        ASSERT_EQ(s.bars.size(), c.times.size());
        for (std::size_t i = 0; i < c.times.size(); ++i) EXPECT_EQ(s.bars[i].time, c.times[i]) << i;
    }
    struct Bound {
        const char* text;
        DateOrder order;
        int64_t from, to;  // as the window's start and end; from > to: refused
    };
    const std::vector<Bound> bounds = {
        {"2020-02-03", DateOrder::automatic, day(2020, 2, 3), day(2020, 2, 4) - 1},
        {"2020-02-03 10:30", DateOrder::automatic, day(2020, 2, 3) + 37800, day(2020, 2, 3) + 37800},
        {"2020-02", DateOrder::automatic, day(2020, 2, 1), day(2020, 3, 1) - 1},
        {"Dec 2020", DateOrder::automatic, day(2020, 12, 1), day(2021, 1, 1) - 1},
        {"2020-W53", DateOrder::automatic, day(2020, 12, 28), day(2021, 1, 4) - 1},
        {"2020Q4", DateOrder::automatic, day(2020, 10, 1), day(2021, 1, 1) - 1},
        {"03/02/2020", DateOrder::dmy, day(2020, 2, 3), day(2020, 2, 4) - 1},
        {"13/02/2020", DateOrder::automatic, day(2020, 2, 13), day(2020, 2, 14) - 1},
        {"1580688000000", DateOrder::automatic, day(2020, 2, 3), day(2020, 2, 3)},
        {"03/02/2020", DateOrder::automatic, 1, 0},
        {"43864", DateOrder::automatic, 1, 0},
        {"2020-13", DateOrder::automatic, 1, 0},
    };
    for (const Bound& b : bounds) {
        SCOPED_TRACE(b.text);
        int64_t from = 0, to = 0;
        std::string why_from, why_to;
        const bool ok = parse_bound(b.text, b.order, false, from, why_from);
        ASSERT_EQ(parse_bound(b.text, b.order, true, to, why_to), ok);
        ASSERT_EQ(ok, b.from <= b.to) << why_from;
        if (!ok) {
            EXPECT_EQ(why_from.compare(0, 6, "date \""), 0) << why_from;
            continue;
        }
        EXPECT_EQ(from, b.from);
        EXPECT_EQ(to, b.to);
    }
}

// The bundled sample's real bars, written as brokers, vendors, exchanges,
// portals and spreadsheets write them: each shape must give the same bars,
// dates and prices as the plain file (volumes too, unless the shape loses
// them), and say what it skipped.
TEST(ScanInput, ReadsTheShapesDownloadsHave) {
    BarSeries plain;
    ReadError plain_error;
    ASSERT_TRUE(read_bars(TIDEMARK_SAMPLE, plain, plain_error)) << plain_error.text();
    const std::vector<Bar>& bars = plain.bars;
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // A bar's date through a printf format taking three numbers, in the
    // order given: 'y' year, 'Y' two-digit year, 'm' month, 'd' day.
    const auto date = [](const Bar& b, const char* format, const char* order) {
        const Civil c = civil_from_seconds(b.time);
        int v[3];
        for (int k = 0; k < 3; ++k)
            v[k] = order[k] == 'y' ? c.year : order[k] == 'Y' ? c.year % 100 : order[k] == 'm' ? c.month : c.day;
        char text[64];
        std::snprintf(text, sizeof text, format, v[0], v[1], v[2]);
        return std::string(text);
    };
    const auto month = [](const Bar& b) { return std::string(kMonths[civil_from_seconds(b.time).month - 1]); };
    const auto day = [](const Bar& b) { return std::to_string(civil_from_seconds(b.time).day); };
    const auto year = [](const Bar& b) { return std::to_string(civil_from_seconds(b.time).year); };
    const auto ohlc = [](const Bar& b, const std::string& sep) {
        return exact(b.open) + sep + exact(b.high) + sep + exact(b.low) + sep + exact(b.close);
    };
    const auto volume = [](const Bar& b) { return exact(b.volume); };
    // 22351900 as "22,351,900" (or with another separator).
    const auto grouped = [](const Bar& b, char separator) {
        std::string digits = exact(b.volume), out;
        for (std::size_t i = 0; i < digits.size(); ++i) {
            if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
            out += digits[i];
        }
        return out;
    };
    // 22351900 as "22.3519M": the point moved, the digits as they were.
    const auto millions = [](const Bar& b) {
        std::string digits = exact(b.volume);
        while (digits.size() < 7) digits.insert(0, "0");
        std::string out = digits.substr(0, digits.size() - 6) + "." + digits.substr(digits.size() - 6);
        while (out.back() == '0') out.pop_back();
        if (out.back() == '.') out.pop_back();
        return out + "M";
    };
    // 22351900 as "2,23,51,900": the last three digits, then twos.
    const auto lakhs = [](const Bar& b) {
        const std::string digits = exact(b.volume);
        std::string out;
        for (std::size_t i = 0; i < digits.size(); ++i) {
            const std::size_t left = digits.size() - i;
            if (i > 0 && (left == 3 || (left > 3 && (left - 3) % 2 == 0))) out += ',';
            out += digits[i];
        }
        return out;
    };
    const auto comma_decimal = [](double v) {
        std::string t = exact(v);
        std::replace(t.begin(), t.end(), '.', ',');
        return t;
    };
    using Row = std::function<std::string(const Bar&, std::size_t)>;
    // The file: a header, then a row per bar, oldest first or newest first.
    const auto file = [&](const std::string& header, const Row& row, bool newest_first = false) {
        std::string text = header.empty() ? "" : header + "\n";
        for (std::size_t k = 0; k < bars.size(); ++k) {
            const std::size_t i = newest_first ? bars.size() - 1 - k : k;
            text += row(bars[i], i) + "\n";
        }
        return text;
    };
    struct Shape {
        const char* name;
        std::string text;
        ReadOptions options = {};
        bool newest_first = false;
        bool volume_kept = true;
        std::size_t duplicates = 0, placeholders = 0, unknown_volumes = 0;
        std::string close_column = "";
        bool close_only = false;  // the twin's closes alone: open, high and low are the close
        std::size_t name_rows = 0, notes = 0;
        bool table = false;  // a table of closes: the symbol chose a column, not rows
    };
    const std::string iso_header = "Date,Open,High,Low,Close,Volume";
    const auto iso_row = [&](const std::string& stamp, const Bar& b) {
        return stamp + "," + ohlc(b, ",") + "," + volume(b);
    };
    // Two downloads pasted together: bars up to 600, then from 550 on, each
    // with its header.
    std::string pasted = iso_header + "\n";
    for (std::size_t i = 0; i < bars.size(); ++i) {
        if (i == 600) pasted += iso_header + "\n";
        if (i == 600)
            for (std::size_t j = 550; j < 600; ++j) pasted += iso_row(date(bars[j], "%04d-%02d-%02d", "ymd"), bars[j]) + "\n";
        pasted += iso_row(date(bars[i], "%04d-%02d-%02d", "ymd"), bars[i]) + "\n";
    }
    // A portal's rows for days without prices, and volumes it does not know.
    std::string nulls = "Date,Open,High,Low,Close,Adj Close,Volume\n";
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const Bar& b = bars[i];
        nulls += date(b, "%04d-%02d-%02d", "ymd") + "," + ohlc(b, ",") + "," + exact(b.close) + "," +
                 (i % 100 == 7 ? "-" : i % 100 == 8 ? "" : volume(b)) + "\n";
        if (i % 250 == 3) {
            Bar next = b;
            next.time += 86400;
            nulls += date(next, "%04d-%02d-%02d", "ymd") + ",null,null,null,null,null,null\n";
        }
    }
    // One long file of two symbols, day by day: the sample's and another's.
    std::string two_symbols = "<TICKER>,<DATE>,<OPEN>,<HIGH>,<LOW>,<CLOSE>,<VOL>\n";
    for (const Bar& b : bars) {
        const std::string day_text = date(b, "%04d%02d%02d", "ymd");
        two_symbols += "ACME," + day_text + "," + ohlc(b, ",") + "," + volume(b) + "\n";
        two_symbols += "OTHER," + day_text + ",1,2,0.5,1.5,100\n";
    }
    const std::vector<Shape> shapes = {
        {"month/day/year", file("Date,Open,High,Low,Close,Volume", [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%02d/%02d/%04d", "mdy"), b); })},
        {"day/month/year", file("Date,Open,High,Low,Close,Volume", [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%02d/%02d/%04d", "dmy"), b); })},
        {"day.month.year, semicolons, decimal commas",
         file("Datum;Open;High;Low;Close;Volume", [&](const Bar& b, std::size_t) {
             return date(b, "%02d.%02d.%04d", "dmy") + ";" + comma_decimal(b.open) + ";" + comma_decimal(b.high) + ";" +
                    comma_decimal(b.low) + ";" + comma_decimal(b.close) + ";" + grouped(b, '.'); }),
         ReadOptions{DateOrder::automatic, {{Role::date, "Datum"}}}},
        {"year.month.day", file("Date,Open,High,Low,Close,Volume", [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%04d.%02d.%02d", "ymd"), b); })},
        {"month/day/two-digit year", file("Date,Open,High,Low,Close,Volume", [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%d/%d/%02d", "mdY"), b); })},
        {"two-digit year first, as asked", file("Date,Open,High,Low,Close,Volume", [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%02d-%02d-%02d", "Ymd"), b); }), ReadOptions{DateOrder::ymd, {}}},
        {"19-Sep-03", file("Date,Open,High,Low,Close,Volume", [&](const Bar& b, std::size_t) {
             return iso_row(day(b) + "-" + month(b) + "-" + date(b, "%02d", "Ydm"), b); })},
        {"19 SEP 2003", file("Date,Open,High,Low,Close,Volume", [&](const Bar& b, std::size_t) {
             std::string m = month(b);
             std::transform(m.begin(), m.end(), m.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
             return iso_row(day(b) + " " + m + " " + year(b), b); })},
        {"\"Sep 19, 2003\", newest first, dollars, Close/Last",
         file("Date,Close/Last,Volume,Open,High,Low", [&](const Bar& b, std::size_t) {
             return "\"" + month(b) + " " + day(b) + ", " + year(b) + "\",$" + exact(b.close) + "," + volume(b) +
                    ",$" + exact(b.open) + ",$" + exact(b.high) + ",$" + exact(b.low); }, true),
         {}, true},
        {"Sep 19 2003, tabs, Price and Vol. in millions, Change %",
         file("Date\tPrice\tOpen\tHigh\tLow\tVol.\tChange %", [&](const Bar& b, std::size_t) {
             return month(b) + " " + day(b) + " " + year(b) + "\t" + exact(b.close) + "\t" + exact(b.open) + "\t" +
                    exact(b.high) + "\t" + exact(b.low) + "\t" + millions(b) + "\t-0.45%"; })},
        {"euros after the price, thousands in quotes",
         file("Date,Open,High,Low,Close,Volume", [&](const Bar& b, std::size_t) {
             return date(b, "%04d-%02d-%02d", "ymd") + "," + exact(b.open) + " €," + exact(b.high) + " €," +
                    exact(b.low) + " €," + exact(b.close) + " €,\"" + grouped(b, ',') + "\""; })},
        {"a date and a time in one field", file(iso_header, [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%04d-%02d-%02d", "ymd") + " 00:00:00", b); })},
        {"12-hour time", file(iso_header, [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%d/%d/%04d", "mdy") + " 12:00:00 AM", b); })},
        {"Z, UTC and GMT", file(iso_header, [&](const Bar& b, std::size_t i) {
             const char* zone[] = {"T00:00:00Z", " 00:00 UTC", " 00:00:00 GMT"};
             return iso_row(date(b, "%04d-%02d-%02d", "ymd") + zone[i % 3], b); })},
        {"local midnight, five hours west", file(iso_header, [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%04d-%02d-%02d", "ymd") + "T00:00:00-05:00", b); })},
        {"local midnight, nine hours east", file(iso_header, [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%04d-%02d-%02d", "ymd") + "T00:00:00+09:00", b); })},
        {"a date and an HHMMSS column, ticker and period",
         file("<TICKER>,<PER>,<DATE>,<TIME>,<OPEN>,<HIGH>,<LOW>,<CLOSE>,<VOL>,<OPENINT>", [&](const Bar& b, std::size_t) {
             return "ACME.US,D," + date(b, "%04d%02d%02d", "ymd") + ",000000," + ohlc(b, ",") + "," + volume(b) + ",0"; })},
        {"a date and an HHMM column", file("Date,Time,Open,High,Low,Close,Volume", [&](const Bar& b, std::size_t) {
             return date(b, "%04d-%02d-%02d", "ymd") + ",0000," + ohlc(b, ",") + "," + volume(b); })},
        {"dots, tabs, a time column, tick volume", file("<DATE>\t<TIME>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\t<TICKVOL>\t<VOL>\t<SPREAD>",
             [&](const Bar& b, std::size_t) {
                 return date(b, "%04d.%02d.%02d", "ymd") + "\t00:00:00\t" + ohlc(b, "\t") + "\t12\t" + volume(b) + "\t0"; })},
        {"names with units and markers", file("Date,Open*,High (USD),Low (USD),Close*,Adj Close**,Volume [shares]",
             [&](const Bar& b, std::size_t) {
                 return date(b, "%04d-%02d-%02d", "ymd") + "," + ohlc(b, ",") + "," + exact(b.close * 0.5) + "," +
                        volume(b); })},
        {"the adjusted close alone", file("Date,Open,High,Low,Adj Close,Volume", [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%04d-%02d-%02d", "ymd"), b); }),
         {}, false, true, 0, 0, 0, "Adj Close"},
        {"names in another language", file("Datum;Eröffnung;Hoch;Tief;Schluss;Umsatz", [&](const Bar& b, std::size_t) {
             return date(b, "%02d.%02d.%04d", "dmy") + ";" + comma_decimal(b.open) + ";" + comma_decimal(b.high) + ";" +
                    comma_decimal(b.low) + ";" + comma_decimal(b.close) + ";" + volume(b); }),
         ReadOptions{DateOrder::automatic, {{Role::date, "Datum"}, {Role::open, "Eröffnung"}, {Role::high, "Hoch"},
                                            {Role::low, "Tief"}, {Role::close, "Schluss"}, {Role::volume, "Umsatz"}}}},
        {"sep= line, title lines, separator-only rows",
         "sep=,\nACME Corp. daily prices\nSource: the exchange, 2008-10-15\n\n" +
             file(iso_header, [&](const Bar& b, std::size_t i) {
                 return iso_row(date(b, "%04d-%02d-%02d", "ymd"), b) + (i % 97 == 5 ? "\n,,,,," : ""); })},
        {"two downloads pasted together", pasted, {}, false, true, 50},
        {"null rows, unknown volumes", nulls, {}, false, false, 0, 5, 22},
        {"spreadsheet day numbers, as asked", file(iso_header, [&](const Bar& b, std::size_t) {
             return iso_row(std::to_string(b.time / 86400 + 25569), b); }), ReadOptions{DateOrder::serial, {}}},
        {"two symbols, one chosen", two_symbols, ReadOptions{DateOrder::automatic, {}, "ACME"}},
        {"two symbols, one chosen in another case", two_symbols, ReadOptions{DateOrder::automatic, {}, "acme"}},
        {"epoch seconds, CRLF", file(iso_header, [&](const Bar& b, std::size_t) {
             return iso_row(std::to_string(b.time), b) + "\r"; })},
        // An exchange's klines: open time in ms, OHLCV, then close time,
        // quote volume, trades and more, without a header.
        {"epoch milliseconds, twelve fields, no header", file("", [&](const Bar& b, std::size_t) {
             return std::to_string(b.time) + "000," + ohlc(b, ",") + "," + volume(b) + "," + std::to_string(b.time) +
                    "999,1234.5,77,1.5,2.5,0"; })},
        {"epoch microseconds, open_time and close_time",
         file("open_time,open,high,low,close,volume,close_time,quote_volume,count", [&](const Bar& b, std::size_t) {
             return std::to_string(b.time) + "000000," + ohlc(b, ",") + "," + volume(b) + "," +
                    std::to_string(b.time + 86399) + "999999,1.5,7"; })},
        {"epoch nanoseconds, newest first", file("timestamp,open,high,low,close,volume", [&](const Bar& b, std::size_t) {
             return std::to_string(b.time) + "000000000," + ohlc(b, ",") + "," + volume(b); }, true), {}, true},
        // A trading terminal's export: date and time in two fields, no header.
        {"a date and a time, no header", file("", [&](const Bar& b, std::size_t) {
             return date(b, "%04d.%02d.%02d", "ymd") + ",00:00," + ohlc(b, ",") + "," + volume(b); })},
        {"a date and a time, no header, no volume", file("", [&](const Bar& b, std::size_t) {
             return date(b, "%04d.%02d.%02d", "ymd") + ";00:00:00;" + ohlc(b, ";"); }), {}, false, false},
        {"columns by position, no header", file("", [&](const Bar& b, std::size_t) {
             return exact(b.close) + "," + exact(b.open) + "," + exact(b.high) + "," + exact(b.low) + "," + volume(b) +
                    "," + date(b, "%04d-%02d-%02d", "ymd"); }),
         ReadOptions{DateOrder::automatic, {{Role::close, "1"}, {Role::open, "2"}, {Role::high, "3"}, {Role::low, "4"},
                                            {Role::volume, "5"}, {Role::date, "6"}}}},
        // A download library's header of three rows: the fields, the
        // tickers, then the name of the dates' column.
        {"three header rows of a download library", "Price,Close,High,Low,Open,Volume\nTicker,ACME,ACME,ACME,ACME,ACME\n"
         "Date,,,,,\n" + file("", [&](const Bar& b, std::size_t) {
             return date(b, "%04d-%02d-%02d", "ymd") + "," + exact(b.close) + "," + exact(b.high) + "," + exact(b.low) +
                    "," + exact(b.open) + "," + volume(b); }),
         {}, false, true, 0, 0, 0, "", false, 2},
        {"a row of tickers under the header (reset_index)",
         file("Date,Close,High,Low,Open,Volume\n,ACME,ACME,ACME,ACME,ACME", [&](const Bar& b, std::size_t) {
             return date(b, "%04d-%02d-%02d", "ymd") + "," + exact(b.close) + "," + exact(b.high) + "," + exact(b.low) +
                    "," + exact(b.open) + "," + volume(b); }),
         {}, false, true, 0, 0, 0, "", false, 1},
        {"a row of units under the header", file(iso_header + "\n,USD,USD,USD,USD,shares", [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%04d-%02d-%02d", "ymd"), b); }), {}, false, true, 0, 0, 0, "", false, 1},
        {"a provider's note and a disclaimer after the bars", file(iso_header, [&](const Bar& b, std::size_t) {
             return iso_row(date(b, "%04d-%02d-%02d", "ymd"), b); }) +
             "Data provided by Example Market Data Ltd.\n\"Prices are delayed, and not for trading\",,\n",
         {}, false, true, 0, 0, 0, "", false, 0, 2},
        // A web table pasted from a browser: tabs, dividend and split rows
        // among the bars, a footnote after them.
        {"a pasted web table with dividends and a split",
         file("Date\tOpen\tHigh\tLow\tClose*\tAdj Close**\tVolume", [&](const Bar& b, std::size_t i) {
             const std::string when = "\"" + month(b) + " " + day(b) + ", " + year(b) + "\"";
             return when + "\t" + ohlc(b, "\t") + "\t" + exact(b.close) + "\t" + grouped(b, ',') +
                    (i % 300 == 20 ? "\n" + when + "\t0.08 Dividend" : "") +
                    (i == 500 ? "\n" + when + "\t2:1 Stock Split" : ""); }, true) +
             "*Close price adjusted for splits.\n**Adjusted close price adjusted for splits and dividend distributions.\n",
         {}, true, true, 0, 0, 0, "", false, 0, 7},
        {"Swiss groupings and francs", file(iso_header, [&](const Bar& b, std::size_t) {
             return date(b, "%04d-%02d-%02d", "ymd") + ",CHF " + exact(b.open) + "," + exact(b.high) + " CHF," +
                    exact(b.low) + "," + exact(b.close) + "," + grouped(b, '\''); })},
        {"Indian groupings and rupees", file(iso_header, [&](const Bar& b, std::size_t) {
             return date(b, "%04d-%02d-%02d", "ymd") + ",Rs. " + exact(b.open) + ",\xE2\x82\xB9" + exact(b.high) + "," +
                    exact(b.low) + "," + exact(b.close) + ",\"" + lakhs(b) + "\""; })},
        {"tabs and decimal commas", file("Date\tOpen\tHigh\tLow\tClose\tVolume", [&](const Bar& b, std::size_t) {
             return date(b, "%02d.%02d.%04d", "dmy") + "\t" + comma_decimal(b.open) + "\t" + comma_decimal(b.high) +
                    "\t" + comma_decimal(b.low) + "\t" + comma_decimal(b.close) + "\t" + volume(b); })},
        {"euro and pound signs in Windows-1252", file(iso_header, [&](const Bar& b, std::size_t) {
             return date(b, "%04d-%02d-%02d", "ymd") + ",\x80" + exact(b.open) + "," + exact(b.high) + " \x80," +
                    "\xA3" + exact(b.low) + "," + exact(b.close) + "\xA3," + volume(b); })},
        {"rows of spreadsheet errors", [&] {
             std::string text = iso_header + "\n";
             for (std::size_t i = 0; i < bars.size(); ++i) {
                 text += iso_row(date(bars[i], "%04d-%02d-%02d", "ymd"), bars[i]) + "\n";
                 if (i % 300 == 1) {
                     Bar next = bars[i];
                     next.time += 3600 * 12;  // never a bar's date: skipped before it is read
                     text += date(next, "%04d-%02d-%02d", "ymd") + "T12:00,#N/A,#VALUE!,#DIV/0!,#N/A,#REF!\n";
                 }
             }
             return text;
         }(), {}, false, true, 0, 4},
        {"closes alone", file("Date,Close", [&](const Bar& b, std::size_t) {
             return date(b, "%04d-%02d-%02d", "ymd") + "," + exact(b.close); }),
         {}, false, false, 0, 0, 0, "", true},
        {"closes alone, a column not named close", file("observation_date,ACME", [&](const Bar& b, std::size_t) {
             return date(b, "%04d-%02d-%02d", "ymd") + "," + exact(b.close); }) + "2008-10-15,.\n",
         {}, false, false, 0, 1, 0, "ACME", true},
        {"closes alone, named by --columns", file("Datum;Schlusskurs;Umsatz", [&](const Bar& b, std::size_t) {
             return date(b, "%02d.%02d.%04d", "dmy") + ";" + comma_decimal(b.close) + ";" + volume(b); }),
         ReadOptions{DateOrder::automatic, {{Role::date, "datum"}, {Role::close, "SCHLUSSKURS"}}}, false, false, 0, 0, 0,
         "", true},
        // A table of closes, a symbol per column; the other symbol began
        // trading later.
        {"a table of closes, one symbol chosen", file("Date,OTHER,ACME,THIRD", [&](const Bar& b, std::size_t i) {
             return date(b, "%04d-%02d-%02d", "ymd") + "," + (i < 100 ? "" : "12.5") + "," + exact(b.close) + ",7"; }),
         ReadOptions{DateOrder::automatic, {}, "acme"}, false, false, 0, 0, 0, "ACME", true, 0, 0, true},
        // Names matched as header names are: case, blanks and punctuation
        // aside, a Windows-1252 header matched by the UTF-8 the user types.
        {"a Windows-1252 header named by --columns in UTF-8",
         file("Datum;Er\xF6" "ffnung;H\xF6" "chst;Tiefst;Schlu\xDF" "kurs;Umsatz (St\xFC" "ck)", [&](const Bar& b, std::size_t) {
             return date(b, "%02d.%02d.%04d", "dmy") + ";" + comma_decimal(b.open) + ";" + comma_decimal(b.high) + ";" +
                    comma_decimal(b.low) + ";" + comma_decimal(b.close) + ";" + volume(b); }),
         ReadOptions{DateOrder::automatic, {{Role::date, " DATUM "}, {Role::open, "ERÖFFNUNG"}, {Role::high, "höchst"},
                                            {Role::low, "tiefst"}, {Role::close, "Schluß-Kurs"},
                                            {Role::volume, "umsatz_stück"}}}},
        {"columns by position under a header", file("Datum;Er\xF6" "ffnung;Hoch;Tief;Schluss;Umsatz", [&](const Bar& b, std::size_t) {
             return date(b, "%02d.%02d.%04d", "dmy") + ";" + comma_decimal(b.open) + ";" + comma_decimal(b.high) + ";" +
                    comma_decimal(b.low) + ";" + comma_decimal(b.close) + ";" + volume(b); }),
         ReadOptions{DateOrder::automatic, {{Role::date, "1"}, {Role::open, "2"}, {Role::high, "3"}, {Role::low, "4"},
                                            {Role::close, "5"}, {Role::volume, "6"}}}},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        BarSeries s;
        ReadError error;
        ASSERT_TRUE(parse_bars("shape.csv", shape.text, s, error, nullptr, shape.options)) << error.text();
        ASSERT_EQ(s.bars.size(), bars.size());
        EXPECT_FALSE(s.intraday);
        EXPECT_EQ(s.newest_first, shape.newest_first);
        EXPECT_EQ(s.duplicates_dropped, shape.duplicates);
        EXPECT_EQ(s.placeholder_rows, shape.placeholders);
        EXPECT_EQ(s.unknown_volumes, shape.unknown_volumes);
        EXPECT_EQ(s.close_column, shape.close_column);
        EXPECT_EQ(s.other_symbol_rows, shape.options.symbol.empty() || shape.table ? 0 : bars.size());
        EXPECT_EQ(s.close_only, shape.close_only);
        EXPECT_EQ(s.name_rows_skipped, shape.name_rows);
        EXPECT_EQ(s.notes_skipped, shape.notes);
        for (std::size_t i = 0; i < bars.size(); ++i) {
            const Bar &got = s.bars[i], &want = bars[i];
            ASSERT_EQ(got.time, want.time) << "bar " << i << ": " << time_text(got.time, true);
            if (shape.close_only) {
                ASSERT_TRUE(got.close == want.close && got.open == got.close && got.high == got.close &&
                            got.low == got.close)
                    << "bar " << i;
                continue;
            }
            ASSERT_TRUE(got.open == want.open && got.high == want.high && got.low == want.low &&
                        got.close == want.close)
                << "bar " << i;
            if (shape.volume_kept) {
                ASSERT_EQ(got.volume, want.volume) << "bar " << i;
            }
        }
    }
}

// A column of numbers (a DataFrame's) is read as epoch times as a file's
// date column is: the unit from the first value's digits, one unit for the
// column, the range checked before anything can overflow.
TEST(ScanInput, EpochTimesInAColumnOfNumbers) {
    const int64_t day = utc_seconds(2020, 1, 2, 0, 0, 0);
    struct Case {
        const char* name;
        std::vector<int64_t> values;
        DateOrder order;
        std::vector<int64_t> seconds;  // empty: refused
        std::size_t row;
        const char* what;
    };
    const std::vector<Case> cases = {
        {"seconds", {day, day + 86400}, DateOrder::automatic, {day, day + 86400}, 0, ""},
        {"milliseconds", {day * 1000, day * 1000 + 86400999}, DateOrder::automatic, {day, day + 86400}, 0, ""},
        {"microseconds", {day * 1000000, -1}, DateOrder::us, {day, -1}, 0, ""},
        {"nanoseconds", {day * 1000000000}, DateOrder::automatic, {day}, 0, ""},
        // 2001-09-08 in ms has 12 digits, the next day 13: one unit still.
        {"milliseconds across 2001-09-09", {1000000000000 - 86400000, 1000000000000}, DateOrder::ms,
         {1000000000 - 86400, 1000000000}, 0, ""},
        {"twelve digits, as asked", {999913600000}, DateOrder::ms, {999913600}, 0, ""},
        {"twelve digits", {999913600000}, DateOrder::automatic, {}, 0,
         "date \"999913600000\" is outside 1901-12-13 20:45:52 .. 2038-01-19 03:14:07 UTC, the range of a bar "
         "record's time (int32 seconds since 1970); epoch milliseconds? --dates ms reads them"},
        {"another unit later", {day * 1000, day}, DateOrder::automatic, {}, 1,
         "date \"1577923200\" has 10 digits, unlike the epoch milliseconds of \"1577923200000\" (the first): one "
         "form must hold for the whole file"},
        {"digits that tell no unit", {15779232000000}, DateOrder::automatic, {}, 0, "date \"15779232000000\" has 14 "
         "digits, which tell no unit of epoch time"},
        {"the largest count", {INT64_MAX}, DateOrder::automatic, {}, 0, "date \"9223372036854775807\" is outside"},
        {"the smallest count", {INT64_MIN}, DateOrder::ns, {}, 0, "date \"-9223372036854775808\" is outside"},
        {"a second before the earliest", {int64_t{INT32_MIN} * 1000 - 1}, DateOrder::ms, {}, 0,
         "date \"-2147483648001\" is outside"},
        {"the earliest", {int64_t{INT32_MIN} * 1000}, DateOrder::ms, {INT32_MIN}, 0, ""},
        {"the latest", {int64_t{INT32_MAX} * 1000 + 999}, DateOrder::ms, {INT32_MAX}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int64_t> out(c.values.size());
        const EpochColumn got = epoch_column(c.values.data(), c.values.size(), c.order, out.data());
        ASSERT_EQ(got.ok, !c.seconds.empty()) << got.what;
        if (got.ok) {
            EXPECT_EQ(out, c.seconds);
            continue;
        }
        EXPECT_EQ(got.row, c.row);
        EXPECT_EQ(got.what.compare(0, std::strlen(c.what), c.what), 0) << got.what;
    }
    // Floats: the same rules, a fraction rounded down, NaN refused.
    const std::vector<double> floats = {1577923200000.0, 1577923200500.5};
    std::vector<int64_t> out(2);
    ASSERT_TRUE(epoch_column(floats.data(), 2, DateOrder::automatic, out.data()).ok);
    EXPECT_EQ(out, (std::vector<int64_t>{day, day}));
    const std::vector<double> bad = {1577923200.0, std::nan(""), 1e19};
    const EpochColumn nan = epoch_column(bad.data(), 3, DateOrder::automatic, out.data());
    EXPECT_FALSE(nan.ok);
    EXPECT_EQ(nan.row, 1u);
    EXPECT_FALSE(epoch_column(bad.data() + 2, 1, DateOrder::ns, out.data()).ok);
}

// A front end that takes keywords (Python) sets how its options are spelled:
// every message that names an option then names the keyword its user types,
// and none names the command's.
TEST(ScanInput, MessagesSpellOptionsAsTheCallerDoes) {
    OptionSpelling python;
    python.dates = "dates";
    python.columns = "columns";
    python.symbol = "symbol";
    python.keywords = true;
    struct Case {
        const char* text;
        ReadOptions options;
        const char* want;
    };
    const std::vector<Case> cases = {
        {"02/03/2003,10,12,9,11\n", {}, "pass dates='mdy' or dates='dmy'"},
        {"13/01/2003,10,12,9,11\n30/02/2003,10,12,9,11\n", {}, "choose the order with dates='mdy', 'dmy' or 'ymd'"},
        {"02/13/2003,10,12,9,11\n", {DateOrder::dmy}, "(as dates asks): write it as YYYY-MM-DD, or choose another "
                                                       "order with dates"},
        {"Date,Open,High,Low,Close\n37679,10,12,9,11\n", {}, "or pass dates='serial' to read day numbers"},
        {"Symbol,Date,Open,High,Low,Close\nA,2020-01-02,10,12,9,11\nB,2020-01-03,10,12,9,11\n", {},
         "choose one with symbol=NAME, or"},
        {"Symbol,Date,Open,High,Low,Close\nA,2020-01-02,10,12,9,11\n", {DateOrder::automatic, {}, "Z"},
         "chosen by symbol ("},
        {"Date,Open,High,Low,Close\n2020-01-02,10,12,9,11\n", {DateOrder::automatic, {}, "Z"}, "symbol chooses \"Z\""},
        {"Date,Open,High,Low,Settle\n2020-01-02,10,12,9,11\n", {},
         "name the columns with columns={'date': NAME, 'open': NAME, 'high': NAME, 'low': NAME, 'close': NAME}"},
        {"Datum;Open;High;Low;Close\n27.02.2003;10;12;9;11\n", {DateOrder::automatic, {{Role::date, "Tag"}}},
         "columns names date=Tag, but"},
    };
    for (Case c : cases) {
        SCOPED_TRACE(c.text);
        c.options.spelling = python;
        BarSeries s;
        ReadError error;
        ASSERT_FALSE(parse_bars("k.csv", c.text, s, error, nullptr, c.options));
        EXPECT_TRUE(error.what.find(c.want) != std::string::npos) << error.what;
        EXPECT_EQ(error.what.find("--"), std::string::npos) << error.what;
    }
    std::vector<ColumnChoice> choices;
    std::string why;
    EXPECT_FALSE(parse_column_choices("date", choices, why, python));
    EXPECT_EQ(why, "columns takes ROLE=NAME pairs separated by commas, ROLE one of date, time, datetime, open, high, "
                   "low, close, volume, symbol (as in columns={'date': 'Datum', 'close': 'Schluss'})");
}

TEST(ScanInput, Timestamps) {
    struct Case {
        const char* text;
        bool ok;
        int64_t seconds;
        bool has_time;
    };
    const int64_t day = utc_seconds(2020, 1, 2, 0, 0, 0);
    const std::vector<Case> cases = {
        {"2020-01-02", true, day, false},
        {"2020/1/2", true, day, false},
        {"20200102", true, day, false},
        {"2020-01-02T10:30", true, day + 37800, true},
        {"2020-01-02 10:30:15", true, day + 37815, true},
        {"2020-01-02T10:30:15.999Z", true, day + 37815, true},
        {"2020-01-02T10:30:15,5", true, day + 37815, true},
        {"2020-01-02T10:30+02:00", true, day + 37800 - 7200, true},
        {"2020-01-02T10:30-0130", true, day + 37800 + 5400, true},
        {"2020-01-02T01:00+05", true, day + 3600 - 5 * 3600, true},
        {"1577923200", true, day, true},
        {"-86400", true, -86400, true},
        {"-0.5", true, -1, true},  // whole seconds, rounded down
        {"2000-02-29", true, utc_seconds(2000, 2, 29, 0, 0, 0), false},
        {"2024-02-29", true, utc_seconds(2024, 2, 29, 0, 0, 0), false},
        {"1900-02-29", false, 0, false},
        {"2100-02-29", false, 0, false},
        {"2023-02-29", false, 0, false},
        {"2020-04-31", false, 0, false},
        {"2020-13-01", false, 0, false},
        {"2020-00-10", false, 0, false},
        {"2020-01-02T24:00", false, 0, false},
        {"2020-01-02T10:60", false, 0, false},
        {"2020-01-02T10:30:60", false, 0, false},
        {"2020-01-02T10", false, 0, false},
        {"2020-01-02T10:30Zx", false, 0, false},
        {"2020-01-02T10:30+24:00", false, 0, false},
        {"2020-01-02x", false, 0, false},
        {"2020-01/02", false, 0, false},
        {"02/01/2020", false, 0, false},
        {"", false, 0, false},
        {"-", false, 0, false},
        {"1e9", false, 0, false},
        // Alone, a numeric date is read only when a day above 12 tells its order.
        {"02.01.2020", false, 0, false},
        {"13.01.2020", true, utc_seconds(2020, 1, 13, 0, 0, 0), false},
        {"01/13/2020", true, utc_seconds(2020, 1, 13, 0, 0, 0), false},
        {"02/02/20", true, utc_seconds(2020, 2, 2, 0, 0, 0), false},
        {"1/13/69", true, utc_seconds(1969, 1, 13, 0, 0, 0), false},  // the pivot: 69 is 1969, 68 is 2068
        {"1/13/68", true, utc_seconds(2068, 1, 13, 0, 0, 0), false},
        {"2-Jan-20", true, day, false},
        {"02 JAN 2020", true, day, false},
        {"Jan 2, 2020", true, day, false},
        {"January 2 2020", true, day, false},
        {"Thu, 2 Jan 2020", true, day, false},
        {"Jan 2, 2020 4:30 PM", true, day + 16 * 3600 + 1800, true},
        {"01/13/2020 12:00 AM", true, utc_seconds(2020, 1, 13, 0, 0, 0), true},
        {"2020-01-02 10:30 UTC", true, day + 37800, true},
        {"2020-01-02 10:30:15 GMT", true, day + 37815, true},
        {"20200102 103015", true, day + 37815, true},
        {"2020-01-02 1030", true, day + 37800, true},
        {"2020-01-02 103", false, 0, false},
        {"2020-01-02 13:00 PM", false, 0, false},
        {"Jun 31, 2020", false, 0, false},
        {"Foo 2, 2020", false, 0, false},
        {"43832", false, 0, false},  // a spreadsheet's day number, not 1970-01-01 12:10:32
        // Epoch times by their digits, where seconds cannot be meant.
        {"1577923200000", true, day, true},
        {"1577923200999.9", true, day, true},
        {"1577923200000000", true, day, true},
        {"1577923200000000000", true, day, true},
        {"-1000", true, -1000, true},
        {"15779232000000", false, 0, false},    // 14 digits tell no unit
        {"157792320000000000", false, 0, false},
        {"99999999999999999999", false, 0, false},
        {"20200-01-02", false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int64_t t = 0;
        bool has_time = false;
        ASSERT_EQ(parse_timestamp(c.text, t, has_time), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(t, c.seconds);
        EXPECT_EQ(has_time, c.has_time);
    }
}

// Prices and volumes as exports write them, each read as strtod reads the
// plain number it stands for; what would be a guess is refused.
TEST(ScanInput, NumbersAsExportsWriteThem) {
    struct Case {
        const char* text;
        bool decimal_comma;
        const char* price;   // the plain number, or null when refused
        const char* volume;  // the same as a volume
    };
    const std::vector<Case> cases = {
        {"77.28", false, "77.28", "77.28"},
        {"$77.28", false, "77.28", nullptr},
        {"-$1.5", false, "-1.5", nullptr},
        {"77,28 \xE2\x82\xAC", true, "77.28", nullptr},
        {"\xC2\xA3" "1,234.5", false, "1234.5", nullptr},
        {"1,234.50", false, "1234.5", "1234.5"},
        {"12,345,678", false, "12345678", "12345678"},
        {"1.234,50", true, "1234.5", "1234.5"},
        {"1 234,5", true, "1234.5", "1234.5"},
        {"12,5", true, "12.5", "12.5"},
        {" 2.020", true, "2.02", "2.02"},  // a point alone is the point, blanks or not (as "2.020")
        {"12,5", false, nullptr, nullptr},       // a decimal comma where "," separates
        {"1,2345", false, nullptr, nullptr},     // not thousands
        {"12,34,567", false, "1234567", "1234567"},  // grouped as in India
        {"1,55,800.00", false, "155800", "155800"},
        {"Rs. 1,55,800.00", false, "155800", nullptr},
        {"\xE2\x82\xB9" "1,00,000", false, "100000", nullptr},
        {"123,45,678", false, nullptr, nullptr},  // twos after three
        {"1,234,56,789", false, nullptr, nullptr},  // threes, then twos
        {"0,123", false, nullptr, nullptr},  // a decimal comma, not thousands
        {"01,234", false, nullptr, nullptr},
        {"1'558.00", false, "1558", "1558"},  // Swiss
        {"1\xE2\x80\x99" "558.25", false, "1558.25", nullptr},
        {"CHF 1'234'567.5", false, "1234567.5", nullptr},
        {"1'55'800", false, nullptr, nullptr},  // India groups with commas only
        {"1'234,5", true, nullptr, nullptr},    // nor is the apostrophe a comma file's
        {"1\xC2\xA0" "234,50", true, "1234.5", nullptr},  // no-break spaces
        {"1\xE2\x80\xAF" "234,5", true, "1234.5", nullptr},
        {"1\xA0" "234,5", true, "1234.5", nullptr},
        {"\x80" "12,5", true, "12.5", nullptr},  // Windows-1252 currency signs
        {"12.5 \xA3", false, "12.5", nullptr},
        {"\xA5" "100", false, "100", nullptr},
        {"US$12.5", false, "12.5", nullptr},
        {"12.5 EUR", false, "12.5", nullptr},
        {"1,234.5", true, nullptr, nullptr},     // which is the point?
        {"12%", false, nullptr, nullptr},
        {"$", false, nullptr, nullptr},
        {"9.93M", false, nullptr, "9930000"},
        {"9,93M", true, nullptr, "9930000"},
        {"1.5K", false, nullptr, "1500"},
        {"3b", false, nullptr, "3000000000"},
        {"0.000123456789B", false, nullptr, "123456.789"},
        {"1,234.5K", false, nullptr, "1234500"},
        {"lots", false, nullptr, nullptr},
        {"M", false, nullptr, nullptr},  // a suffix alone is no volume, not 0
        {"1.2.3K", false, nullptr, nullptr},
        {"1e3K", false, nullptr, nullptr},
        {".5k", false, nullptr, "500"},
        {"-2K", false, nullptr, "-2000"},  // read; the bar's check refuses a negative volume
        {"-", false, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + (c.decimal_comma ? " (decimal comma)" : ""));
        double price = 0, volume = 0;
        ASSERT_EQ(parse_price(c.text, c.decimal_comma, price), c.price != nullptr);
        if (c.price != nullptr) {
            EXPECT_EQ(price, std::strtod(c.price, nullptr));
        }
        ASSERT_EQ(parse_volume(c.text, c.decimal_comma, volume), c.volume != nullptr);
        if (c.volume != nullptr) {
            EXPECT_EQ(volume, std::strtod(c.volume, nullptr));
        }
    }
    for (const char* missing : {"", "null", "NULL", "n/a", "N/A", "-", "--", "NaN", " none ", ".", "#N/A", "#VALUE!",
                                "#DIV/0!", "#REF!", "#NUM!", "#NAME?", "#NULL!", "#N/A N/A"})
        EXPECT_TRUE(missing_value(missing)) << missing;
    for (const char* value : {"0", "nil", "nulls", "x", "#", "#N/A!", "..", "#DIV/0"})
        EXPECT_FALSE(missing_value(value)) << value;
}

// Prices read bit for bit as strtod reads them, in every spelling: short
// ones take a fast path, long ones and exponents the full conversion.
TEST(ScanInput, NumbersReadAsStrtodReadsThem) {
    std::mt19937 rng(314159);
    const auto digits = [&](int n) {
        std::string d;
        for (int i = 0; i < n; ++i) d += static_cast<char>('0' + rng() % 10);
        return d;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string text = round % 5 == 0 ? "-" : round % 7 == 0 ? "+" : "";
        const int whole = static_cast<int>(rng() % 13), fraction = static_cast<int>(rng() % 13);
        text += digits(whole);
        if (fraction > 0 || rng() % 4 == 0) text += "." + digits(fraction);
        if (whole + fraction == 0) text += "7";
        if (rng() % 10 == 0) text += "e" + std::to_string(static_cast<int>(rng() % 40) - 20);
        const bool comma = rng() % 3 == 0;
        std::string field = text;
        if (comma) std::replace(field.begin(), field.end(), '.', ',');
        const char sep = comma ? ';' : ',';
        const std::string row = std::string("2020-01-02") + sep + field + sep + field + sep + field + sep + field + "\n";
        BarSeries s;
        ReadError error;
        ASSERT_TRUE(parse_bars("n.csv", row, s, error)) << row << error.text();
        const double want = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&s.bars[0].close, &want, sizeof want), 0) << text << " read as " << exact(s.bars[0].close);
    }
}

// Whatever bytes a file holds, the reader either accepts it or gives one line
// naming the file, and never reads out of bounds (the sanitizer build runs
// this too).
TEST(ScanInput, ArbitraryBytesNeverCrashTheReader) {
    std::mt19937 rng(20260101);
    std::string alphabet = "0123456789-:,;.\"\r\n\t TZe+/x#dDaAt\x01\xEF\xBB\xBF\xFF\xFE$%KMSepJnulPUCG=*";
    alphabet.push_back('\0');
    const std::string goods[] = {"2020-01-02,10,12,9,11,5\n2020-01-03,11,13,10,12,6\n",
                                 "Date;Close;High;Low;Open\n2020-01-03;12;13;10,5;11\n2020-01-02;11;12;9;10\n",
                                 "sep=,\nTitle\nDate,Symbol,Price,Open,High,Low,Vol.\n\"Jan 2, 2020\",A,$12,11,13,10,9.9M\n"
                                 "01/03/2020 4:00 PM,A,\"1,012\",11,1013,10,-\nDate,Symbol,Price,Open,High,Low,Vol.\n"
                                 "13.01.20,A,null,null,null,null,\n",
                                 "<DATE>\t<TIME>\t<OPEN>\t<HIGH>\t<LOW>\t<CLOSE>\n20200102\t000000\t1\t2\t0\t1\n"
                                 "2020-01-03T00:00:00-05:00\t\t1\t2\t0\t1\n37680\t1030\t1\t2\t0\t1\n"};
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        if (round % 2 == 0) {
            // A valid file with a few bytes changed.
            text = goods[(round / 2) % 4];
            for (int k = 0; k < 1 + round % 4; ++k) text[rng() % text.size()] = alphabet[rng() % alphabet.size()];
        } else {
            const std::size_t length = rng() % 80;
            for (std::size_t k = 0; k < length; ++k) text += alphabet[rng() % alphabet.size()];
        }
        // Past the first few kilobytes, which are read whole to tell what
        // the file is, the chunks split the lines themselves.
        if (round % 3 == 0) text = "#" + std::string(4100, 'c') + (round % 2 == 0 ? "\r\n" : "\r") + text;
        BarSeries series;
        ReadError error;
        // The reader sees exactly the bytes: none beyond them is addressable.
        const std::vector<char> exact_copy(text.begin(), text.end());
        const bool read = parse_bars("f.csv", std::string_view(exact_copy.data(), exact_copy.size()), series, error);
        // Streamed in small chunks, every line end, quote and mark split
        // across them somewhere: the same bars or the same message.
        {
            MemorySource chunks(std::string_view(exact_copy.data(), exact_copy.size()), 1 + rng() % 7);
            BarSeries streamed;
            ReadError streamed_error;
            ASSERT_EQ(read_series("f.csv", chunks, streamed, streamed_error), read) << text;
            ASSERT_EQ(streamed_error.text(), error.text()) << text;
            ASSERT_EQ(streamed.bars.size(), series.bars.size());
            if (!series.bars.empty()) {
                ASSERT_EQ(std::memcmp(streamed.bars.data(), series.bars.data(), series.bars.size() * sizeof(Bar)), 0);
            }
            ASSERT_EQ(streamed.newest_first, series.newest_first);
            ASSERT_EQ(streamed.intraday, series.intraday);
        }
        if (read) {
            ++accepted;
            ASSERT_FALSE(series.bars.empty());
            for (std::size_t i = 1; i < series.bars.size(); ++i)
                ASSERT_LT(series.bars[i - 1].time, series.bars[i].time);
            for (const Bar& bar : series.bars) {
                ASSERT_LE(bar.low, bar.high);
                ASSERT_TRUE(bar.low <= bar.open && bar.open <= bar.high);
                ASSERT_TRUE(bar.low <= bar.close && bar.close <= bar.high);
                ASSERT_TRUE(std::isfinite(bar.high - bar.low));
            }
        } else {
            const std::string message = error.text();
            ASSERT_EQ(message.compare(0, 6, "f.csv:"), 0) << message;
            ASSERT_TRUE(std::none_of(message.begin(), message.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
                << message;
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
            ASSERT_EQ(days_in_month(y, m), days) << y << "-" << m;
            for (int d = 1; d <= days; ++d, expected += 86400) {
                const int64_t t = utc_seconds(y, m, d, 23, 59, 58);
                ASSERT_EQ(t, expected + 86398) << y << "-" << m << "-" << d;
                const Civil c = civil_from_seconds(t);
                ASSERT_TRUE(c.year == y && c.month == m && c.day == d && c.hour == 23 && c.minute == 59 &&
                            c.second == 58)
                    << y << "-" << m << "-" << d;
            }
        }
    }
    EXPECT_EQ(time_text(INT32_MIN, true), "1901-12-13 20:45:52");
    EXPECT_EQ(time_text(utc_seconds(2020, 1, 2, 13, 45, 0), true), "2020-01-02 13:45");
    EXPECT_EQ(time_text(utc_seconds(2020, 1, 2, 13, 45, 0), false), "2020-01-02");
}

TEST(ScanLayout, RecordsAre44PackedBytesNewestFirst) {
    std::vector<Bar> bars = {
        {1000, 1.5, 2.5, 0.5, 2.0, 10},
        {2000, 3.5, 4.5, 2.5, 4.0, 20},
        {3000, 5.5, 6.5, 4.5, 6.0, 30},
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

//
// The workflow.
//

class ScanWorkflow : public testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(library_.open(library_file(), error)) << error;
    }
    static const tidemark::loader::Exports& lib() { return library_.exports(); }
    static BarSeries series_of(const std::string& csv) {
        BarSeries s;
        ReadError error;
        EXPECT_TRUE(parse_bars("t.csv", csv, s, error)) << error.text();
        return s;
    }

private:
    static tidemark::loader::Library library_;
};
tidemark::loader::Library ScanWorkflow::library_;

// The workflow's results hold together: the merged levels are the fractals'
// prices, spaced more than the tolerance apart, every fractal is counted
// once, and the close test agrees with the distances.
TEST_F(ScanWorkflow, LevelsComeFromTheFractals) {
    BarSeries series;
    ReadError read_error;
    ASSERT_TRUE(read_bars(TIDEMARK_SAMPLE, series, read_error)) << read_error.text();
    for (int32_t mode : {0, 1, 2}) {
        for (int32_t depth : {1, 2, 5}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", depth " + std::to_string(depth));
            Settings settings;
            settings.mode = mode;
            settings.depth = depth;
            const Analysis a = analyse(lib(), series, settings);
            ASSERT_GT(a.levels.size(), 3u);
            EXPECT_EQ(a.tolerance, 0.5 * a.mean_range);
            EXPECT_EQ(a.up_count + a.down_count, static_cast<int32_t>(a.fractals.size()));
            int64_t strengths = 0, merged = 0, counted = 0;
            for (const Fractal& f : a.fractals) {
                const Bar& bar = series.bars[f.bar];
                EXPECT_EQ(f.price, f.up ? bar.high : bar.low);
                ASSERT_TRUE(f.strength >= 1 && f.strength <= depth);
                ASSERT_TRUE(f.bar >= static_cast<std::size_t>(depth) && f.bar + depth < series.bars.size());
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

// Small series whose every number is worked out by hand.
TEST_F(ScanWorkflow, HandWorkedSeries) {
    // Highs 5 5 10 5 5 11 5 12 5 5, every low 1: up fractals 10 (strength
    // 2), 11 (1, as 12 tops it two bars on) and 12 (2); six down fractals at
    // 1. With tolerance 1, mode 0, Hlop merges 10 and 11 (the lower of two
    // equal gaps) into 10 and keeps 12 apart: 11 lies midway between the
    // two levels, and counts for the lower, where Hlop put it.
    std::vector<std::vector<double>> rows;
    for (double high : {5, 5, 10, 5, 5, 11, 5, 12, 5, 5}) rows.push_back({1, high, 1, 1});
    const BarSeries s = series_of(csv_of(rows));
    Settings settings;
    settings.mode = 0;
    settings.tolerance = 1;
    Analysis a = analyse(lib(), s, settings);
    ASSERT_EQ(a.levels.size(), 3u);
    EXPECT_EQ(a.levels[0].price, 1.0);
    EXPECT_EQ(a.levels[1].price, 10.0);
    EXPECT_EQ(a.levels[2].price, 12.0);
    EXPECT_FALSE(a.counts_exact);
    EXPECT_EQ(a.levels[0].fractals, 6);
    EXPECT_EQ(a.levels[1].fractals, 2);
    EXPECT_EQ(a.levels[2].fractals, 1);
    EXPECT_EQ(a.levels[1].merged_weight, 2);  // mode 0: the heavier weight stays
    // Mode 1 adds the weights and counts exactly.
    settings.mode = 1;
    a = analyse(lib(), s, settings);
    ASSERT_EQ(a.levels.size(), 3u);
    EXPECT_TRUE(a.counts_exact);
    EXPECT_EQ(a.levels[0].merged_weight, 12);
    EXPECT_EQ(a.levels[1].merged_weight, 3);
    EXPECT_EQ(a.levels[1].fractals, 2);
    // The close, 1, is on the level at 1: distance 0.
    const ScreenRow row = screen_row(s, a);
    EXPECT_TRUE(row.on_level);
    EXPECT_EQ(row.level, 1.0);
    EXPECT_EQ(row.distance, 0.0);
    EXPECT_TRUE(row.has_below);
    EXPECT_TRUE(row.has_above);
    EXPECT_EQ(row.below, 1.0);
    EXPECT_EQ(row.above, 10.0);

    // The default tolerance is half the mean range, whatever the bars'
    // magnitude; near the largest double the sum overflows, not the mean.
    EXPECT_EQ(mean_range(s.bars), 58.0 / 10);
    const std::vector<Bar> huge = {{0, 0, 1.5e308, 0, 0, 0}, {1, 0, 1.5e308, 0, 0, 0}};
    EXPECT_EQ(mean_range(huge), 1.5e308);
}

TEST_F(ScanWorkflow, ScreenRowDistances) {
    // Levels at 1, 10 and 12 (above); closes around them.
    struct Case {
        double close;
        double tolerance;
        bool on;
        double level;
        double distance;  // in tolerances; inf for none
    };
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<Case> cases = {
        {1, 1, true, 1, 0},      {2, 1, true, 1, 1},       {2.5, 1, false, 0, 1.5},  {11, 1, true, 10, 1},
        {11.5, 1, true, 12, 0.5},
        // CheckLevel's level is the first within the tolerance, 10; the
        // distance is to the nearest, 12.
        {11.5, 2, true, 10, 0.25}, {11.5, 0.5, true, 12, 1}, {12, 2, true, 10, 0}, {5, 0.25, false, 0, 16},
        {2, 0, false, 0, inf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("close " + exact(c.close) + ", tolerance " + exact(c.tolerance));
        std::vector<std::vector<double>> rows;
        for (double high : {5, 5, 10, 5, 5, 13, 5, 12, 5, 5}) rows.push_back({1, high, 1, 1});
        rows.push_back({c.close, 20, 0.5, c.close});
        Settings settings;
        settings.tolerance = c.tolerance;
        BarSeries s = series_of(csv_of(rows));
        Analysis a = analyse(lib(), s, settings);
        // Replace the merged levels by the hand-made ones: the row is
        // arithmetic over them and CheckLevel's answer.
        a.levels = {{1, 1, 1, 1}, {10, 1, 1, 1}, {12, 3, 7, 1}};
        const double prices[] = {1, 10, 12};
        a.close_level = lib().check_level(0, 0, c.close, c.tolerance, prices, 3);
        const ScreenRow row = screen_row(s, a);
        EXPECT_EQ(row.on_level, c.on);
        if (c.on) {
            EXPECT_EQ(row.level, c.level);
        }
        EXPECT_EQ(row.distance, c.distance);
        EXPECT_EQ(row.bars, 11u);
    }
}

TEST_F(ScanWorkflow, WindowsAndHeaviestLevels) {
    std::string csv = "date,open,high,low,close\n";
    for (int d = 1; d <= 10; ++d) csv += "2020-01-" + std::string(d < 10 ? "0" : "") + std::to_string(d) + ",1,2,0,1\n";
    const int64_t jan = utc_seconds(2020, 1, 1, 0, 0, 0);
    struct Case {
        const char* name;
        Window window;
        bool ok;
        int first_day, count;
    };
    const std::vector<Case> cases = {
        {"all", Window{}, true, 1, 10},
        {"from", Window{true, false, jan + 3 * 86400, 0, 0}, true, 4, 7},
        {"to, whole day", Window{false, true, 0, jan + 4 * 86400 + 86399, 0}, true, 1, 5},
        {"from and to", Window{true, true, jan + 86400, jan + 2 * 86400, 0}, true, 2, 2},
        {"last", Window{false, false, 0, 0, 3}, true, 8, 3},
        {"last of a window", Window{false, true, 0, jan + 4 * 86400, 2}, true, 4, 2},
        {"more than there are", Window{false, false, 0, 0, 50}, true, 1, 10},
        {"after the end", Window{true, false, jan + 20 * 86400, 0, 0}, false, 0, 0},
        {"between two bars", Window{true, true, jan + 3600, jan + 7200, 0}, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BarSeries s = series_of(csv);
        ASSERT_EQ(apply_window(s, c.window), c.ok);
        if (!c.ok) {
            EXPECT_EQ(s.bars.size(), 10u);  // untouched
            continue;
        }
        ASSERT_EQ(s.bars.size(), static_cast<std::size_t>(c.count));
        EXPECT_EQ(s.bars.front().time, jan + (c.first_day - 1) * 86400);
    }

    Analysis a;
    a.levels = {{1, 5, 2, 1}, {2, 9, 4, 1}, {3, 5, 2, 1}, {4, 1, 0, 1}, {5, 9, 4, 1}};
    EXPECT_EQ(heaviest_levels(a, 0), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(heaviest_levels(a, 2), (std::vector<std::size_t>{1, 4}));
    EXPECT_EQ(heaviest_levels(a, 3), (std::vector<std::size_t>{0, 1, 4}));  // the lower on a tie
    EXPECT_EQ(heaviest_levels(a, 9), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

//
// The whole host.
//

TEST_F(Scan, SampleEndToEnd) {
    const std::string chart = path("sample.svg");
    const Outcome r = scan({TIDEMARK_SAMPLE, "--svg", chart});
    ASSERT_EQ(r.status, kOk) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(has(r.out, "1047 daily bars, 2004-08-19 to 2008-10-14 (oldest first in the file)")) << r.out;
    EXPECT_TRUE(has(r.out, "CheckLevel last close 362.71 (2008-10-14) is at")) << r.out;
    EXPECT_TRUE(has(r.out, "for the whole run (stopwatch exports)")) << r.out;
    EXPECT_TRUE(has(r.out, "  chart      " + chart + "\n")) << r.out;

    const std::string svg = slurp(chart);
    std::size_t elements = 0;
    EXPECT_EQ(xml_check::problem(svg, &elements), "");
    EXPECT_GT(elements, 1000u);
    EXPECT_EQ(svg.compare(0, 5, "<?xml"), 0);
    EXPECT_EQ(leftovers(), std::vector<std::string>{"sample.svg"});

    // One drawn line per merged level, and as many levels as the JSON lists.
    const Outcome j = scan({TIDEMARK_SAMPLE, "--json"});
    ASSERT_EQ(j.status, kOk) << j.err;
    const Json doc = parsed(j.out);
    const std::size_t levels = doc["levels"].size();
    EXPECT_GT(levels, 10u);
    EXPECT_EQ(doc["level_count"], levels);
    EXPECT_EQ(count_of(svg, "<title>level "), levels);
    EXPECT_EQ(doc["bar_count"], 1047);
    EXPECT_EQ(doc["fractal_counts"], "exact");
    EXPECT_EQ(doc["first_date"], "2004-08-19");
    EXPECT_EQ(doc["last_date"], "2008-10-14");

    // Without a file: the bundled sample, compiled in, and a word on stderr.
    const Outcome d = scan({"--json"});
    ASSERT_EQ(d.status, kOk) << d.err;
    EXPECT_EQ(d.err, "tidemark-scan: no file given: using the bundled sample, data/daily-bars.csv\n");
    Json bundled = parsed(d.out), from_file = doc;
    EXPECT_EQ(bundled["bundled_sample"], true);
    for (Json* x : {&bundled, &from_file})
        for (const char* key : {"input", "bundled_sample", "seconds"}) x->erase(key);
    EXPECT_EQ(bundled, from_file);
}

// The walk from the command: one row per bar from the first with a level,
// the last of them the report's own last close; a window; JSON rows on
// standard output in the report's place; the track record in the report.
TEST_F(Scan, WalkRowsAndTrackRecord) {
    const std::string rows_file = path("walk.csv");
    const Outcome r = scan({TIDEMARK_SAMPLE, "--walk", rows_file, "--json"});
    ASSERT_EQ(r.status, kOk) << r.err;
    const Json report = parsed(r.out);
    const Json rows = parsed(slurp(rows_file));
    ASSERT_TRUE(rows.is_array());
    EXPECT_EQ(rows.size(), 1047u - 4u);  // the first fractal (depth 2) is confirmed at the fifth bar
    EXPECT_EQ(rows.front()["date"], "2004-08-25");
    const Json& last = rows.back();
    const Json& close = report["last_close"];
    EXPECT_EQ(last["date"], close["date"]);
    EXPECT_EQ(last["close"], close["price"]);
    for (const char* key : {"on_level", "level", "level_weight", "below", "above", "distance"})
        EXPECT_EQ(last[key], close[key]) << key;
    EXPECT_EQ(last["level_count"], report["level_count"]);
    EXPECT_EQ(last["tolerance"], report["tolerance"]);
    EXPECT_EQ(last["bars"], 1047);

    // CSV with a window, on standard output: the header, then a row per bar
    // with at most the window's bars in view.
    const Outcome c = scan({TIDEMARK_SAMPLE, "--walk", "-", "--window", "60"});
    ASSERT_EQ(c.status, kOk) << c.err;
    EXPECT_EQ(c.out.compare(0, 30, "date,close,bars,tolerance,leve"), 0) << c.out.substr(0, 80);
    EXPECT_EQ(count_of(c.out, "\n"), 1u + 1043u);
    EXPECT_TRUE(has(c.out, "\n2008-10-14,362.71,60,")) << c.out.substr(c.out.size() - 200);
    EXPECT_FALSE(has(c.out, "CheckLevel"));
    // A window shorter than a fractal's neighbourhood never has a level.
    const Outcome none = scan({TIDEMARK_SAMPLE, "--walk", "-", "--window", "4", "--json"});
    ASSERT_EQ(none.status, kOk) << none.err;
    EXPECT_EQ(parsed(none.out), Json::array());

    // The track record in the JSON and the report.
    const Json& level = report["levels"][0];
    for (const char* key : {"formed_date", "last_fractal_date", "touches", "held", "broke", "bars_since_touch"})
        EXPECT_TRUE(level.contains(key)) << key;
    int touches = 0;
    for (const Json& l : report["levels"]) {
        EXPECT_LE(l["held"].get<int>() + l["broke"].get<int>(), l["touches"].get<int>());
        EXPECT_LE(l["formed_date"].get<std::string>(), "2008-10-14");
        touches += l["touches"].get<int>();
    }
    EXPECT_GT(touches, 100);
    const Outcome text = scan({TIDEMARK_SAMPLE});
    EXPECT_TRUE(has(text.out, "fractals      formed  touches  held  broke  since")) << text.out;

    // The chart starts levels where they formed and marks what price did there.
    const std::string chart = path("walk.svg");
    ASSERT_EQ(scan({TIDEMARK_SAMPLE, "--svg", chart}).status, kOk);
    const std::string svg = slurp(chart);
    EXPECT_EQ(xml_check::problem(svg), "");
    EXPECT_GT(count_of(svg, "<circle cx="), 50u);
    EXPECT_GT(count_of(svg, "\"/><path d=\"M"), 10u);
    EXPECT_LT(count_of(svg, "<line x1=\"50.0\""), count_of(svg, "<title>level "));
}

// Every form of the JSON, parsed back: the fields, their order, and that
// they match the text report.
TEST_F(Scan, JsonOutput) {
    spit(path("bars.csv"), kGood);
    const Outcome r = scan({path("bars.csv"), "--json"});
    ASSERT_EQ(r.status, kOk) << r.err;
    const Json j = parsed(r.out);
    for (const char* key : {"version", "input", "library", "bar_count", "first_date", "last_date", "fractal_depth",
                            "merge_mode", "weight_span", "mean_bar_range", "tolerance", "levels", "last_close",
                            "seconds"})
        EXPECT_TRUE(j.contains(key)) << key;
    EXPECT_EQ(j["version"], TIDEMARK_VERSION);
    // The third bar's high of 15 tops two bars on each side; its low does not.
    ASSERT_EQ(j["levels"].size(), 1u);
    EXPECT_EQ(j["levels"][0],
              Json::parse(R"({"index":0,"price":15,"merged_weight":2,"resized_weight":2,"fractals":1,
                  "formed_date":"2020-01-08","last_fractal_date":"2020-01-06","touches":0,"held":0,"broke":0,
                  "bars_since_touch":null})"));
    EXPECT_EQ(j["last_close"], Json::parse(R"({"date":"2020-01-08","price":12,"level_index":null,"on_level":false,
        "level":null,"level_weight":null,"below":null,"above":15,"distance":2})"));
    EXPECT_EQ(j["file_order"], "oldest first");
    // One key per line: a line filter can drop the ones that vary.
    EXPECT_EQ(count_of(r.out, "\"seconds\""), 1u);
    EXPECT_TRUE(has(r.out, "\n  \"seconds\": {\"total\":"));

    // The levels in the report's order, highest price first; --levels keeps
    // the heaviest.
    const Outcome sample = scan({TIDEMARK_SAMPLE, "--json", "--levels", "5"});
    ASSERT_EQ(sample.status, kOk);
    const Json s = parsed(sample.out);
    ASSERT_EQ(s["levels"].size(), 5u);
    EXPECT_EQ(s["level_count"], 60);
    const Outcome all = scan({TIDEMARK_SAMPLE, "--json"});
    std::vector<int> weights;
    const Json all_levels = parsed(all.out)["levels"];
    for (const Json& level : all_levels) weights.push_back(level["merged_weight"]);
    std::sort(weights.rbegin(), weights.rend());
    for (std::size_t k = 0; k < 5; ++k) {
        EXPECT_GE(s["levels"][k]["merged_weight"].get<int>(), weights[4]);
        if (k > 0) {
            EXPECT_GT(s["levels"][k - 1]["price"].get<double>(), s["levels"][k]["price"].get<double>());
        }
    }
    const Outcome text = scan({TIDEMARK_SAMPLE, "--levels", "5"});
    EXPECT_TRUE(has(text.out, "(the 5 heaviest of 60 levels)")) << text.out;
    EXPECT_EQ(level_rows(text.out), 5u);
    EXPECT_EQ(level_rows(scan({TIDEMARK_SAMPLE}).out), 60u);

    // Prices near the largest double: every number stays valid JSON.
    spit(path("huge.csv"), csv_of({{1e308, 1.7e308, 1e308, 1.5e308}, {-1e308, -1e308, -1.7e308, -1.5e308},
                                   {1e308, 1.7e308, 1e308, 1.6e308}, {0, 1, 0, 1}, {1e308, 1.6e308, 1e308, 1.1e308}}));
    const Outcome huge = scan({path("huge.csv"), "--json", "--depth", "1", "--svg", path("huge.svg")});
    ASSERT_EQ(huge.status, kOk) << huge.err;
    const Json h = parsed(huge.out);
    EXPECT_FALSE(has(huge.out, "inf"));
    EXPECT_FALSE(has(huge.out, "nan"));
    EXPECT_TRUE(h["mean_bar_range"].is_number());
}

TEST_F(Scan, ReportText) {
    // Weight bars fit their column: every row of the level table is as long
    // as the others.
    const Outcome r = scan({TIDEMARK_SAMPLE, "--span", "100"});
    ASSERT_EQ(r.status, kOk);
    std::size_t rows = 0, width = 0;
    std::size_t start = 0;
    for (std::size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = r.out.substr(start, end - start);
        if (level_rows(line + "\n") == 0) continue;
        ++rows;
        if (line.size() > 16 && line.compare(line.size() - 16, 16, "   <- last close") == 0) line.resize(line.size() - 16);
        if (width == 0) width = line.size();
        EXPECT_EQ(line.size(), width) << line;
        EXPECT_LE(count_of(line, "#"), 20u) << line;
    }
    EXPECT_GT(rows, 20u);
    EXPECT_TRUE(has(r.out, "index    price  weight")) << r.out;
    EXPECT_TRUE(has(r.out, "Hlop weight  fractals")) << r.out;
    EXPECT_TRUE(has(r.out, "the heaviest can exceed\n               span - 1 = 99")) << r.out;

    // Prices too small for 8 decimals show significant digits.
    std::vector<std::vector<double>> rows_tiny;
    for (int i = 0; i < 30; ++i) {
        const double p = 1.2345e-9 * (1 + 0.01 * (i % 7));
        rows_tiny.push_back({p, p * 1.001, p * 0.999, p});
    }
    rows_tiny.back() = {1.2345e-9, 1.2345e-9 * 1.001, 1.2345e-9 * 0.999, 1.2345e-9};
    spit(path("tiny.csv"), csv_of(rows_tiny));
    const Outcome tiny = scan({path("tiny.csv")});
    ASSERT_EQ(tiny.status, kOk) << tiny.err;
    EXPECT_FALSE(has(tiny.out, "0.00000000")) << tiny.out;
    EXPECT_TRUE(has(tiny.out, "CheckLevel last close 1.2345e-09 (2020-01-30)")) << tiny.out;

    // The window and the file's order are reported.
    spit(path("newest.csv"), "date,open,high,low,close\n2020-01-03,1,2,0,1\n2020-01-02,1,2,0,1\n2020-01-01,1,2,0,1\n");
    const Outcome w = scan({path("newest.csv"), "--last", "2"});
    ASSERT_EQ(w.status, kOk) << w.err;
    EXPECT_TRUE(has(w.out, "2 daily bars, 2020-01-02 to 2020-01-03 (newest first in the file)")) << w.out;
    EXPECT_TRUE(has(w.out, "the file holds 3 bars")) << w.out;
    // What the reader passed over is said, in the report and the JSON.
    spit(path("passed.csv"), "Date,Open,High,Low,Adj Close,Volume\n2020-01-01,1,2,0,1,5\n2020-01-02,1,2,0,1,n/a\n"
                             "2020-01-03,null,null,null,null,null\nDate,Open,High,Low,Adj Close,Volume\n"
                             "2020-01-02,1,2,0,1,n/a\n2020-01-06,1,2,0,1,7\n");
    const Outcome passed = scan({path("passed.csv")});
    ASSERT_EQ(passed.status, kOk) << passed.err;
    EXPECT_TRUE(has(passed.out, "\n  read       1 bar repeated exactly dropped, 1 null row skipped, 2 volumes unknown "
                                "(read as 0); the close is column \"Adj Close\", the file's only close\n"))
        << passed.out;
    const Json passed_json = parsed(scan({path("passed.csv"), "--json"}).out);
    EXPECT_EQ(passed_json["bar_count"], 3);
    EXPECT_EQ(passed_json["duplicates_dropped"], 1);
    EXPECT_EQ(passed_json["null_rows_skipped"], 1);
    EXPECT_EQ(passed_json["unknown_volumes"], 2);
    EXPECT_EQ(passed_json["close_column"], "Adj Close");
    EXPECT_FALSE(has(scan({TIDEMARK_SAMPLE}).out, "  read  "));
    // One of a thing is one, not "1 levels".
    spit(path("one.csv"), kGood);
    const Outcome one = scan({path("one.csv"), "--svg", path("one.svg"), "--depth", "2"});
    ASSERT_EQ(one.status, kOk) << one.err;
    EXPECT_TRUE(has(one.out, "depth 2: 1 high and 0 lows of strength 1 or more")) << one.out;
    EXPECT_TRUE(has(one.out, "(weights add): 1 candidate -> 1 level\n")) << one.out;
    EXPECT_TRUE(has(slurp(path("one.svg")), ">1 level merged from 1 fractal (depth 2")) << slurp(path("one.svg"));
    EXPECT_TRUE(has(slurp(path("one.svg")), ", weight 2, 1 fractal, formed ")) << slurp(path("one.svg"));
    const Outcome deep = scan({path("one.csv"), "--depth", "1", "--last", "1"});
    EXPECT_TRUE(has(deep.out, "1 daily bar, 2020-01-08 to 2020-01-08")) << deep.out;
    EXPECT_TRUE(has(deep.out, "the file holds 5 bars")) << deep.out;
    EXPECT_TRUE(has(deep.out, "(1 bar on each side)")) << deep.out;
    const Outcome none = scan({path("newest.csv"), "--from", "2021-01-01"});
    EXPECT_EQ(none.status, kBadInput);
    EXPECT_EQ(none.err, "tidemark-scan: " + path("newest.csv") +
                            ": no bars in the window: the file runs from 2020-01-01 to 2020-01-03\n");
}

// The price grid and every coordinate stay finite and bounded whatever the
// prices: spans of a few ulps once looped forever.
TEST_F(Scan, ChartOfExtremePrices) {
    const double ulp_at_million = std::nextafter(1e6, 2e6) - 1e6;
    struct Case {
        const char* name;
        std::vector<std::vector<double>> rows;
    };
    std::vector<Case> cases = {
        {"six apart near 1e16", {}},
        {"one high one ulp above a million", {}},
        {"every price equal", {}},
        {"across the double range", {{1e308, 1.7e308, 1e308, 1.5e308}, {-1e308, -1e308, -1.7e308, -1.5e308},
                                     {0, 1, 0, 1}, {1e308, 1.6e308, 1e308, 1.1e308}, {0, 0, 0, 0}}},
        {"subnormal", {{0, 4e-323, 0, 0}, {0, 1e-323, 0, 0}, {0, 0, 0, 0}, {0, 2e-323, 0, 0}, {0, 0, 0, 0}}},
        {"ten-digit prices", {}},
        {"prices near 1e-10", {}},
        {"negative eight-digit prices", {}},
    };
    for (int i = 0; i < 12; ++i) {
        cases[0].rows.push_back({1e16, 1e16 + 6, 1e16, 1e16});
        cases[1].rows.push_back({1e6, i == 5 ? 1e6 + ulp_at_million : 1e6, 1e6, 1e6});
        cases[2].rows.push_back({42, 42, 42, 42});
        const double wave = (i % 3) * 0.25;
        cases[5].rows.push_back({1234567890.25, 1234567890.5 + wave, 1234567889.75 - wave, 1234567890});
        cases[6].rows.push_back({1.5e-10, (1.75 + wave) * 1e-10, (1.25 - wave / 2) * 1e-10, 1.5e-10});
        cases[7].rows.push_back({-12345678.5, -12345678 + wave, -12345679.25 - wave, -12345678.75});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spit(path("bars.csv"), csv_of(c.rows));
        const Outcome r = scan({path("bars.csv"), "--svg", path("c.svg"), "--json", "--depth", "1"});
        ASSERT_EQ(r.status, kOk) << r.err;
        const std::string svg = slurp(path("c.svg"));
        EXPECT_EQ(xml_check::problem(svg), "");
        EXPECT_FALSE(has(svg, "nan")) << svg.substr(0, 2000);
        EXPECT_FALSE(has(svg, "inf"));
        EXPECT_LT(svg.size(), 200000u);
        // Grid labels are distinct prices.
        std::set<std::string> labels;
        std::size_t grid = 0;
        for (std::size_t at = svg.find("text-anchor=\"end\">"); at != std::string::npos;
             at = svg.find("text-anchor=\"end\">", at + 1)) {
            const std::size_t b = svg.find('>', at) + 1;
            if (svg.compare(b, 10, "last close") == 0) continue;
            labels.insert(svg.substr(b, svg.find('<', b) - b));
            ++grid;
        }
        EXPECT_GE(grid, 2u);
        EXPECT_LE(grid, 100u);
        EXPECT_EQ(labels.size(), grid);
        // No price label reaches past the chart's edges: at 10 px no digit,
        // point or sign of the fonts named is wider than 7 px.
        const double width = std::strtod(svg.c_str() + svg.find(" width=\"") + 8, nullptr);
        const std::size_t shift_at = svg.find("<g transform=\"translate(");
        const double shift = shift_at == std::string::npos ? 0 : std::strtod(svg.c_str() + shift_at + 24, nullptr);
        for (std::size_t at = svg.find("<text x=\""); at != std::string::npos; at = svg.find("<text x=\"", at + 1)) {
            const double x = std::strtod(svg.c_str() + at + 9, nullptr) + shift;
            const std::size_t b = svg.find('>', at) + 1;
            const std::string text = svg.substr(b, svg.find('<', b) - b);
            if (text.find_first_not_of("0123456789.-+e") != std::string::npos) continue;  // not a price
            const double extent = 7.0 * static_cast<double>(text.size());
            const bool right_aligned = svg.compare(svg.find('>', at) - 18, 18, "text-anchor=\"end\"") == 0;
            EXPECT_GE(right_aligned ? x - extent : x, 0.0) << text;
            EXPECT_LE(right_aligned ? x : x + extent, width) << text;
        }
        parsed(r.out);
    }
}

TEST_F(Scan, ChartAxesAndLabels) {
    // A few daily bars: date ticks never finer than a day, each with its year.
    spit(path("bars.csv"), kGood);
    ASSERT_EQ(scan({path("bars.csv"), "--svg", path("daily.svg")}).status, kOk);
    const std::string daily = slurp(path("daily.svg"));
    // Every bar's date, the first included: a short series says where it starts.
    EXPECT_EQ(count_of(daily, "text-anchor=\"middle\">2020-01-0"), 5u) << daily;
    EXPECT_TRUE(has(daily, "text-anchor=\"middle\">2020-01-02</text>")) << daily;
    // Two bars, or one: still dated.
    for (const std::size_t bars : {1, 2}) {
        std::string few = "date,open,high,low,close\n";
        for (std::size_t i = 0; i < bars; ++i) few += std::string(i == 0 ? "2020-01-02" : "2020-01-03") + ",1,2,0,1\n";
        spit(path("few.csv"), few);
        ASSERT_EQ(scan({path("few.csv"), "--svg", path("few.svg")}).status, kOk);
        EXPECT_TRUE(has(slurp(path("few.svg")), "text-anchor=\"middle\">2020-01-02</text>")) << bars;
        EXPECT_TRUE(has(slurp(path("few.svg")), bars == 1 ? ": 1 daily bar, " : ": 2 daily bars, ")) << bars;
    }
    EXPECT_FALSE(has(daily, ":00</text>"));
    // The sentence about the last close sits above the plot, clear of the candles.
    const std::size_t at = daily.find(">last close 12.00 is on no level<");
    ASSERT_NE(at, std::string::npos);
    const std::size_t y = daily.rfind(" y=\"", at);
    EXPECT_LT(std::strtod(daily.c_str() + y + 4, nullptr), 62.0);

    // Intraday bars: labels with the year and the time.
    spit(path("bars.csv"), "2020-01-02 10:00,1,2,0,1\n2020-01-02 11:00,1,2,0,1\n2020-01-02 12:00,1,2,0,1\n");
    ASSERT_EQ(scan({path("bars.csv"), "--svg", path("intraday.svg")}).status, kOk);
    EXPECT_EQ(count_of(slurp(path("intraday.svg")), "\">2020-01-02 1"), 3u);
    // Sessions of a month: day ticks, each with the time of the day's first bar.
    std::string month = "date,open,high,low,close\n";
    for (int d = 1; d <= 28; ++d)
        for (int h = 9; h <= 16; ++h)
            month += time_text(utc_seconds(2020, 2, d, h, 30, 0), true) + ",1,2,0,1\n";
    spit(path("month.csv"), month);
    ASSERT_EQ(scan({path("month.csv"), "--svg", path("month.svg")}).status, kOk);
    const std::string month_svg = slurp(path("month.svg"));
    EXPECT_GE(count_of(month_svg, " 09:30</text>"), 5u) << month_svg.substr(0, 3000);
    EXPECT_EQ(count_of(month_svg, "text-anchor=\"middle\">2020-02-"), count_of(month_svg, " 09:30</text>"));

    // Many levels: the chart keeps the heaviest, apart enough to tell them
    // from each other; --levels N draws the N heaviest.
    std::mt19937 rng(7);
    std::vector<std::vector<double>> rows;
    double price = 1000;
    for (int i = 0; i < 20000; ++i) {
        const double next = price * (1 + (static_cast<double>(rng() % 2001) - 1000) / 50000);
        rows.push_back({price, std::max(price, next) * 1.001, std::min(price, next) * 0.999, next});
        price = next;
    }
    spit(path("long.csv"), csv_of(rows, 3600));
    const Outcome many = scan({path("long.csv"), "--svg", path("long.svg"), "--json", "--tolerance", "0.5"});
    ASSERT_EQ(many.status, kOk) << many.err;
    ASSERT_GT(parsed(many.out)["level_count"].get<std::size_t>(), kLevelsThatFit);
    const std::string svg = slurp(path("long.svg"));
    const std::size_t drawn = count_of(svg, "<title>level ");
    EXPECT_LE(drawn, kLevelsThatFit);
    EXPECT_GE(drawn, 20u);
    EXPECT_TRUE(has(svg, ", the " + std::to_string(drawn) + " heaviest drawn, 6 px apart;")) << svg.substr(0, 1000);
    EXPECT_LT(svg.size(), 300000u);
    // No two drawn levels closer than kLevelGap; the heaviest level is drawn.
    std::vector<double> ys;
    for (std::size_t at = svg.find("\"><title>level "); at != std::string::npos;
         at = svg.find("\"><title>level ", at + 1))
        ys.push_back(std::strtod(svg.c_str() + svg.rfind(" y1=\"", at) + 5, nullptr));
    ASSERT_EQ(ys.size(), drawn);
    std::sort(ys.begin(), ys.end());
    for (std::size_t i = 1; i < ys.size(); ++i) EXPECT_GE(ys[i] - ys[i - 1], kLevelGap - 0.1) << ys[i];
    const Json long_json = parsed(many.out);
    int heaviest = 0;
    for (const Json& level : long_json["levels"]) heaviest = std::max(heaviest, level["merged_weight"].get<int>());
    std::size_t heaviest_index = 0;
    for (const Json& level : long_json["levels"])
        if (level["merged_weight"] == heaviest) heaviest_index = level["index"];
    EXPECT_TRUE(has(svg, "<title>level " + std::to_string(heaviest_index) + ": "));
    ASSERT_EQ(scan({path("long.csv"), "--svg", path("long.svg"), "--levels", "3"}).status, kOk);
    EXPECT_EQ(count_of(slurp(path("long.svg")), "<title>level "), 3u);
}

// A chart never replaces the input, a folder or a file that is not a chart.
TEST_F(Scan, ChartNeverOverwritesOtherFiles) {
    // An input named .svg, a file of notes named .svg: the chart's name
    // alone does not make a file a chart.
    spit(path("bars.svg"), kGood);
    spit(path("mine.csv"), kGood);
    spit(path("notes.svg"), "my notes\n");
    spit(path("old.svg"), "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"/>\n");
    fs::create_directories(fs::u8path(path("folder.svg")));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;  // the start of stderr
    };
    const std::vector<Case> cases = {
        // A forgotten input name: not an .svg name, refused before anything is read.
        {{"--svg", path("mine.csv")}, kBadUsage,
         "tidemark-scan: --svg writes an SVG chart: name the file *.svg (not " + path("mine.csv") + ")"},
        {{path("bars.svg"), "--svg", path("bars.svg")},
         kBadInput,
         "tidemark-scan: " + path("bars.svg") + ": is the input file: it is not overwritten"},
        {{path("bars.svg"), "--svg", (dir_ / "." / "bars.svg").u8string()},
         kBadInput,
         "tidemark-scan: " + (dir_ / "." / "bars.svg").u8string() + ": is the input file"},
        {{"--svg", path("notes.svg")},
         kBadInput,
         "tidemark-scan: no file given: using the bundled sample, data/daily-bars.csv\ntidemark-scan: " +
             path("notes.svg") + ": exists and is not an SVG chart: it is not overwritten"},
        {{path("bars.svg"), "--svg", path("folder.svg")},
         kBadInput,
         "tidemark-scan: " + path("folder.svg") + ": is a folder"},
        {{path("bars.svg"), "--svg", path("old.svg")}, kOk, ""},
        // The walk's rows are held to the same.
        {{path("bars.svg"), "--walk", path("bars.svg")},
         kBadInput,
         "tidemark-scan: " + path("bars.svg") + ": is the input file: it is not overwritten"},
        {{path("bars.svg"), "--walk", path("notes.svg")},
         kBadInput,
         "tidemark-scan: " + path("notes.svg") + ": exists and is not a walk's rows: it is not overwritten"},
        {{path("bars.svg"), "--walk", path("mine.csv")}, kBadInput, "tidemark-scan: " + path("mine.csv") + ": exists"},
        {{path("bars.svg"), "--walk", path("folder.svg")},
         kBadInput,
         "tidemark-scan: " + path("folder.svg") + ": is a folder"},
        {{path("bars.svg"), "--walk", path("old-walk.csv")}, kOk, ""},
        {{path("bars.svg"), "--walk", path("old-walk.json"), "--json"}, kOk, ""},
    };
    spit(path("old-walk.csv"),
         "date,close,bars,tolerance,level_count,on_level,level,level_weight,below,below_weight,above,above_weight,"
         "distance_price,distance\n2001-01-01,1,5,1,0,false,,,,,,,,\n");
    spit(path("old-walk.json"), "[]\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const Outcome r = scan(c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.compare(0, c.err.size(), c.err), 0) << r.err;
        if (c.status != kOk) {
            EXPECT_EQ(r.out, "");
        }
        EXPECT_EQ(slurp(path("bars.svg")), kGood);
        EXPECT_EQ(slurp(path("mine.csv")), kGood);
        EXPECT_EQ(slurp(path("notes.svg")), "my notes\n");
    }
    EXPECT_TRUE(has(slurp(path("old.svg")), "bars.svg: 5 daily bars"));
    // The earlier walks were replaced by this one's: the third bar's high is
    // the one level from the last bar on.
    EXPECT_TRUE(has(slurp(path("old-walk.csv")), "\n2020-01-08,12.0,5,")) << slurp(path("old-walk.csv"));
    EXPECT_EQ(parsed(slurp(path("old-walk.json"))).size(), 1u);
}

// A chart that cannot be written costs the chart, not the analysis.
TEST_F(Scan, FailedChartKeepsTheAnalysis) {
    spit(path("bars.csv"), kGood);
    const std::string chart = path("no-such-folder/chart.svg");
    const Outcome r = scan({path("bars.csv"), "--svg", chart});
    EXPECT_EQ(r.status, kBadInput);
    EXPECT_EQ(r.err.compare(0, 15 + chart.size() + 16, "tidemark-scan: " + chart + ": cannot write: "), 0) << r.err;
    EXPECT_TRUE(has(r.out, "CheckLevel last close 12.00 (2020-01-08)")) << r.out;
    EXPECT_TRUE(has(r.out, "  chart      not written: " + chart + ": cannot write: ")) << r.out;
    const Outcome j = scan({path("bars.csv"), "--svg", chart, "--json"});
    EXPECT_EQ(j.status, kBadInput);
    const Json doc = parsed(j.out);
    EXPECT_EQ(doc["bar_count"], 5);
    EXPECT_TRUE(has(doc["chart_error"].get<std::string>(), "cannot write"));
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
}

// Output that does not reach its file is a failure that says so, whatever
// was being printed.
TEST_F(Scan, OutputThatCannotBeWrittenFails) {
    spit(path("bars.csv"), kGood);
    fs::create_directories(fs::u8path(path("folder")));
    spit(path("folder/a.csv"), kGood);
    struct Target {
        const char* name;
        std::string file;
        const char* mode;
    };
    std::vector<Target> targets = {{"a stream open for reading only", path("readonly.txt"), "rb"}};
#ifndef _WIN32
    targets.push_back({"a full disk", "/dev/full", "wb"});
#endif
    spit(path("readonly.txt"), "");
    const std::vector<std::vector<std::string>> runs = {
        {path("bars.csv")},
        {path("bars.csv"), "--json"},
        {path("folder")},
        {path("folder"), "--json"},
        {path("folder"), path("bars.csv")},
        {"--help"},
        {path("missing.csv"), "--json"},
    };
    for (const Target& t : targets) {
        for (const std::vector<std::string>& args : runs) {
            SCOPED_TRACE(std::string(t.name) + ": " + args[0] + (args.size() > 1 ? " " + args[1] : ""));
            const Outcome r = scan(args, t.file, t.mode);
            EXPECT_NE(r.status, kOk);
            EXPECT_TRUE(has(r.err, "tidemark-scan: cannot write the output")) << r.err;
        }
    }
    EXPECT_EQ(slurp(path("readonly.txt")), "");
}

// Names in any script, on every system; every output stays valid UTF-8.
TEST_F(Scan, FileNamesInAnyScript) {
    const std::vector<std::string> names = {"données.csv", "цены.csv", "株価.csv"};
    fs::create_directories(fs::u8path(path("folder")));
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        spit(path(name), kGood);
        spit(path("folder/" + name), kGood);
        const std::string chart = path(name.substr(0, name.size() - 4) + ".svg");
        const Outcome r = scan({path(name), "--json", "--svg", chart});
        ASSERT_EQ(r.status, kOk) << r.err;
        EXPECT_EQ(parsed(r.out)["input"], path(name));  // throws on invalid UTF-8
        const std::string svg = slurp(chart);
        EXPECT_EQ(xml_check::problem(svg), "");
        EXPECT_TRUE(has(svg, ">" + name + ": 5 daily bars")) << svg.substr(0, 600);
    }
#ifndef _WIN32
    // A name that is not UTF-8 (Latin-1 "Société.csv"): the file is read, the
    // chart and the JSON stay valid, with replacement characters in the name.
    {
        const std::string latin1 = "Soci\xE9t\xE9.csv", shown_as = "Soci\uFFFDt\uFFFD.csv";
        spit(path(latin1), kGood);
        spit(path("folder/" + latin1), kGood);
        const std::string chart = path("latin1.svg");
        const Outcome r = scan({path(latin1), "--json", "--svg", chart});
        ASSERT_EQ(r.status, kOk) << r.err;
        EXPECT_EQ(parsed(r.out)["input"], valid_utf8(path(latin1)));
        EXPECT_EQ(parsed(r.out)["bar_count"], 5);
        const std::string svg = slurp(chart);
        EXPECT_EQ(xml_check::problem(svg), "");
        EXPECT_TRUE(has(svg, ">" + shown_as + ": 5 daily bars")) << svg.substr(0, 600);
    }
#endif
    const Outcome s = scan({path("folder"), "--json"});
    ASSERT_EQ(s.status, kOk) << s.err;
    const Json rows = parsed(s.out);
    std::set<std::string> files;
    for (const Json& row : rows) files.insert(row["file"].get<std::string>());
    for (const std::string& name : names) EXPECT_EQ(files.count(joined(path("folder"), name)), 1u) << name;
#ifndef _WIN32
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(files.count(valid_utf8(joined(path("folder"), "Soci\xE9t\xE9.csv"))), 1u);
#else
    ASSERT_EQ(rows.size(), 3u);
#endif
}

// Several files or folders make a screen: one row per file, nearest to a
// level first; a file that fails is a row of its own and the rest go on.
TEST_F(Scan, ScreenOfManyFiles) {
    fs::create_directories(fs::u8path(path("screen")));
    // The sample and slices of it end at different distances from their levels.
    BarSeries sample;
    ReadError error;
    ASSERT_TRUE(read_bars(TIDEMARK_SAMPLE, sample, error));
    const std::string all = slurp(TIDEMARK_SAMPLE);
    std::vector<std::string> names;
    for (int k = 0; k < 6; ++k) {
        const std::string name = "part" + std::to_string(k) + ".CSV";
        std::string text = "date,open,high,low,close,volume\n";
        std::size_t at = all.find('\n') + 1;
        for (int line = 0; line < 400 + 120 * k; ++line) {
            const std::size_t end = all.find('\n', at);
            text += all.substr(at, end - at + 1);
            at = end + 1;
        }
        spit(path("screen/" + name), text);
        names.push_back(name);
    }
    spit(path("screen/broken.csv"), "date,open,high,low,close\n2020-01-02,10,12,9,11\n2020-01-03,10,9,9.5,9.2\n");
    spit(path("screen/notes.txt"), "not a CSV\n");
    fs::create_directories(fs::u8path(path("screen/sub.csv")));
    fs::create_directories(fs::u8path(path("empty")));

    const Outcome r = scan({path("screen"), "--json"});
    EXPECT_EQ(r.status, kBadInput);
    const std::string broken = joined(path("screen"), "broken.csv");
    EXPECT_EQ(r.err, "tidemark-scan: " + broken + ":3: high 9 is below low 9.5\n");
    const Json rows = parsed(r.out);
    ASSERT_EQ(rows.size(), 7u);
    double previous = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        const Json& row = rows[i];
        std::vector<std::string> keys;
        for (const auto& item : row.items()) keys.push_back(item.key());
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, (std::vector<std::string>{"above", "bars", "below", "distance", "file", "last_close",
                                                  "last_date", "level", "level_weight", "on_level"}));
        EXPECT_GE(row["distance"].get<double>(), previous);
        previous = row["distance"];
        // Each row is what the file's own run says of its last close.
        const Outcome single = scan({row["file"].get<std::string>(), "--json"});
        const Json close = parsed(single.out)["last_close"];
        for (const char* key : {"on_level", "level", "level_weight", "below", "above", "distance"})
            EXPECT_EQ(row[key], close[key]) << key;
        EXPECT_EQ(row["bars"], parsed(single.out)["bar_count"]);
        EXPECT_EQ(row["last_date"], close["date"]);
        EXPECT_EQ(row["last_close"], close["price"]);
        EXPECT_EQ(row["on_level"], row["distance"].get<double>() <= 1 && !row["level"].is_null());
    }
    EXPECT_EQ(rows[6], (Json{{"file", broken}, {"error", "high 9 is below low 9.5"}, {"line", 3}}));

    // Files and folders mixed, with a window; the text table.
    const Outcome t = scan({path("screen/part0.CSV"), path("screen/part1.CSV"), path("empty"), path("missing.csv"),
                            "--last", "300"});
    EXPECT_EQ(t.status, kBadInput);
    EXPECT_TRUE(has(t.out, "tidemark-scan: 4 files, 2 unreadable, nearest to a level first")) << t.out;
    EXPECT_TRUE(has(t.out, "  file ")) << t.out;
    EXPECT_EQ(count_of(t.out, "  300  "), 2u) << t.out;
    EXPECT_TRUE(has(t.out, "error: no *.csv or *.csv.gz files in " + path("empty"))) << t.out;
    EXPECT_TRUE(has(t.out, "error: " + path("missing.csv") + ": cannot open: ")) << t.out;

    // Names in any script line up in the table, wide characters taking two
    // columns.
    fs::create_directories(fs::u8path(path("names")));
    for (const char* name : {"données.csv", "株価.csv", "plain.csv"}) spit(joined(path("names"), name), kGood);
    const Outcome table = scan({path("names")});
    ASSERT_EQ(table.status, kOk) << table.err;
    // Where the bars column ends, in terminal columns, on the header and on
    // each row (5 bars, the last on 2020-01-08).
    std::set<std::size_t> ends;
    for (const char* name : {"données.csv", "株価.csv", "plain.csv", "\n  file "}) {
        const std::size_t at = table.out.find(name);
        ASSERT_NE(at, std::string::npos) << name;
        const bool header = name[0] == '\n';
        const std::size_t start = header ? at + 1 : table.out.rfind('\n', at) + 1;
        const std::size_t end = header ? table.out.find("bars", at) + 4 : table.out.find("5  2020-01-08", at) + 1;
        ends.insert(display_width(table.out.substr(start, end - start)));
    }
    EXPECT_EQ(ends.size(), 1u) << table.out;
    EXPECT_EQ(display_width("株価.csv"), 8u);
    EXPECT_EQ(display_width("données.csv"), 11u);

    // Folders with nothing to screen: empty, holding only another folder
    // named like a CSV file, or named so themselves. A clear error, no crash.
    fs::create_directories(fs::u8path(path("only-folders/x.csv")));
    fs::create_directories(fs::u8path(path("y.csv")));
    for (const std::string& folder : {path("empty"), path("only-folders"), path("y.csv")}) {
        SCOPED_TRACE(folder);
        const Outcome e = scan({folder});
        EXPECT_EQ(e.status, kBadInput);
        EXPECT_EQ(e.err, "tidemark-scan: no *.csv or *.csv.gz files in " + folder + "\n");
        const Outcome ej = scan({folder, "--json"});
        EXPECT_EQ(ej.status, kBadInput);
        EXPECT_EQ(parsed(ej.out), Json::parse("[{\"file\": " + Json(folder).dump() + ", \"error\": " +
                                               Json("no *.csv or *.csv.gz files in " + folder).dump() + ", \"line\": null}]"));
    }

    // Rows whose close is on no level: those with a level at some distance,
    // nearest first, then those with no level at all (too few bars for a
    // fractal) by name, then the failures by name, each with a null line
    // when none applies.
    fs::create_directories(fs::u8path(path("order")));
    const std::string three = "date,open,high,low,close\n2020-01-02,10,12,9,11\n2020-01-03,11,13,10,12\n"
                              "2020-01-06,12,15,11,14\n";
    spit(path("order/c.csv"), kGood);
    spit(path("order/b.csv"), three);
    spit(path("order/a.csv"), three);
    spit(path("order/e.csv.gz"), kGzipped);  // three bars too, compressed: a row like the others
    spit(path("order/0.csv"), "");
    spit(path("order/1.csv"), std::string(8, '\0'));
    const Outcome o = scan({path("order"), path("zz-missing.csv"), "--json"});
    EXPECT_EQ(o.status, kBadInput);
    const Json ordered = parsed(o.out);
    std::vector<std::string> order;
    for (const Json& row : ordered) order.push_back(fs::u8path(row["file"].get<std::string>()).filename().u8string());
    EXPECT_EQ(order,
              (std::vector<std::string>{"c.csv", "a.csv", "b.csv", "e.csv.gz", "0.csv", "1.csv", "zz-missing.csv"}));
    ASSERT_EQ(ordered.size(), 7u);
    EXPECT_TRUE(ordered[0]["distance"].is_number());
    for (std::size_t i : {1, 2, 3}) {
        EXPECT_TRUE(ordered[i]["distance"].is_null());
        EXPECT_EQ(ordered[i]["on_level"], false);
        EXPECT_EQ(ordered[i]["bars"], 3);
    }
    EXPECT_EQ(ordered[4]["line"], 1);
    EXPECT_TRUE(ordered[5]["line"].is_null());
    EXPECT_EQ(ordered[5]["error"], "not a text file");
    EXPECT_TRUE(ordered[6]["line"].is_null());

    // A folder of downloads, all compressed: screened like any other.
    fs::create_directories(fs::u8path(path("downloads")));
    spit(path("downloads/a.CSV.GZ"), kGzipped);
    spit(path("downloads/b.csv.gz"), gzip_stored(kGood));
    const Outcome g = scan({path("downloads"), "--json"});
    EXPECT_EQ(g.status, kOk) << g.err;
    EXPECT_EQ(parsed(g.out).size(), 2u);

    const Outcome bad = scan({path("screen"), "--svg", path("x.svg")});
    EXPECT_EQ(bad.status, kBadUsage);
    EXPECT_EQ(bad.err, "tidemark-scan: --svg draws the chart of one file, not of a screen (try --help)\n");
}

// No shell expands *.csv for a Windows program: it does so itself, as
// Windows matches names (any case), and says when nothing matches.
TEST_F(Scan, WildcardsAsWindowsProgramsExpandThem) {
    fs::create_directories(fs::u8path(path("w")));
    fs::create_directories(fs::u8path(path("w/sub.csv")));
    for (const char* name : {"b.csv", "A.CSV", "c.csv.txt", "données.csv", "d1.csv", "d22.csv"})
        spit(joined(path("w"), name), kGood);
    const std::string w = path("w") + "/";
    struct Case {
        std::string pattern;
        std::vector<std::string> found;
    };
    const std::vector<Case> cases = {
        {w + "*.csv", {w + "A.CSV", w + "b.csv", w + "d1.csv", w + "d22.csv", w + "données.csv"}},
        {w + "d?.csv", {w + "d1.csv"}},
        {w + "d*2.CSV", {w + "d22.csv"}},
        {w + "*.txt", {w + "c.csv.txt"}},
        {w + "*a*", {w + "A.CSV"}},
        {w + "*.xls", {}},
        {path("*") + "/b.csv", {}},  // wildcards in the folder part are not expanded
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(expand_wildcard(c.pattern), c.found);
    }
#ifdef _WIN32
    const Outcome r = scan({w + "*.csv", "--json"});
    ASSERT_EQ(r.status, kOk) << r.err;
    EXPECT_EQ(parsed(r.out).size(), 5u);
    const Outcome none = scan({w + "*.xls"});
    EXPECT_EQ(none.status, kBadUsage);
    EXPECT_EQ(none.err, "tidemark-scan: " + w + "*.xls: no file matches (try --help)\n");
#else
    // Here the shell expands: a * left over is part of a name.
    const Outcome r = scan({w + "*.csv"});
    EXPECT_EQ(r.status, kBadInput);
    EXPECT_TRUE(has(r.err, "*.csv: cannot open")) << r.err;
#endif
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
        {{"--tolerance", "1e999"}, kBadUsage, "tidemark-scan: --tolerance needs"},
        {{"--svg"}, kBadUsage, "tidemark-scan: --svg needs a file name"},
        {{"--svg", "--depth", "2"}, kBadUsage, "tidemark-scan: --svg needs a file name"},
        {{"--levels", "0"}, kBadUsage, "tidemark-scan: --levels needs"},
        {{"--last", "-2"}, kBadUsage, "tidemark-scan: --last needs"},
        {{"--from", "yesterday"}, kBadUsage, "tidemark-scan: --from: date \"yesterday\" is not a date"},
        {{"--from"}, kBadUsage, "tidemark-scan: --from needs a date"},
        {{"--from", "02/03/2003"}, kBadUsage, "tidemark-scan: --from: date \"02/03/2003\" reads as 2003-02-03 "
         "month/day or 2003-03-02 day/month: write it as YYYY-MM-DD, or pass --dates mdy or --dates dmy"},
        {{"--to", "37679"}, kBadUsage, "tidemark-scan: --to: date \"37679\" looks like a spreadsheet's serial day "
         "number (2003-02-27 if it is one), not a date: format the column as dates (YYYY-MM-DD) before saving, or "
         "pass --dates serial to read day numbers"},
        {{"--to", "2003-W54"}, kBadUsage, "tidemark-scan: --to: date \"2003-W54\" has no week 54: 2003 has 52 ISO "
         "weeks"},
        {{"--svg", "chart.png"}, kBadUsage, "tidemark-scan: --svg writes an SVG chart: name the file *.svg (not "
         "chart.png)"},
        {{"--dates", "seconds"}, kBadUsage, "tidemark-scan: --dates needs mdy, dmy, ymd, serial, ms, us or ns"},
        {{"--from", "2020-02-01", "--to", "2020-01-01"}, kBadUsage, "tidemark-scan: --from is after --to"},
        {{"-", "a.csv"}, kBadUsage, "tidemark-scan: - (standard input) cannot be part of a screen"},
        {{"--walk"}, kBadUsage, "tidemark-scan: --walk needs a file name"},
        {{"--window", "0", "--walk", "w.csv"}, kBadUsage, "tidemark-scan: --window needs"},
        {{"--window", "5"}, kBadUsage, "tidemark-scan: --window is the walk's: use it with --walk FILE"},
        {{"a.csv", "b.csv", "--walk", "w.csv"}, kBadUsage, "tidemark-scan: --walk walks one file, not a screen"},
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
        // With --json the error comes on stdout too.
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--json");
        const Outcome j = scan(args);
        EXPECT_EQ(j.status, c.status);
        const Json e = parsed(j.out);
        EXPECT_TRUE(e.contains("error") && e.contains("file") && e.contains("line")) << j.out;
    }
    const Outcome help = scan({"--help"});
    EXPECT_EQ(help.status, kOk);
    EXPECT_TRUE(has(help.out, "usage: tidemark-scan"));
    const Outcome version = scan({"--version"});
    EXPECT_EQ(version.status, kOk);
    EXPECT_EQ(version.out, std::string("tidemark-scan ") + TIDEMARK_VERSION + "\n");
}

// A table of closes, a symbol per column, given alone: a screen of its
// symbols; --symbol (any case) reads one, and the report says the bars are
// closes alone. A file named .gz that holds plain text is read as such, and
// a failure says the name is wrong.
TEST_F(Scan, TablesOfClosesAndMisnamedFiles) {
    std::string wide = "Date,IBM,AAPL,MSFT\n";
    for (int i = 0; i < 30; ++i)
        wide += time_text(utc_seconds(2020, 1, 1, 0, 0, 0) + 86400 * i, false) + "," + (i < 5 ? "" : exact(130 + i % 7)) +
                "," + exact(75 + i % 5 * 0.5) + "," + exact(160 - i % 3) + "\n";
    spit(path("wide.csv"), wide);
    const Outcome r = scan({path("wide.csv")});
    ASSERT_EQ(r.status, kOk) << r.err;
    EXPECT_TRUE(has(r.out, "tidemark-scan: 3 series, nearest to a level first")) << r.out;
    for (const char* symbol : {"(IBM)", "(AAPL)", "(MSFT)"}) EXPECT_TRUE(has(r.out, path("wide.csv") + " " + symbol)) << r.out;
    EXPECT_TRUE(has(r.out, " 25  2020-01-30")) << r.out;  // IBM traded from the sixth day
    const Json j = parsed(scan({path("wide.csv"), "--json"}).out);
    ASSERT_EQ(j.size(), 3u);
    std::set<std::string> symbols;
    for (const Json& row : j) symbols.insert(row["symbol"].get<std::string>());
    EXPECT_EQ(symbols, (std::set<std::string>{"IBM", "AAPL", "MSFT"}));
    const Outcome one = scan({path("wide.csv"), "--symbol", "aapl"});
    ASSERT_EQ(one.status, kOk) << one.err;
    EXPECT_TRUE(has(one.out, "  read       closes alone, column \"AAPL\": each bar's open, high and low are its close\n"))
        << one.out;
    const Json one_json = parsed(scan({path("wide.csv"), "--symbol", "aapl", "--json"}).out);
    EXPECT_EQ(one_json["close_only"], true);
    EXPECT_EQ(one_json["close_column"], "AAPL");
    // A chart is of one series: the message says how to choose it.
    const Outcome svg = scan({path("wide.csv"), "--svg", path("wide.svg")});
    EXPECT_EQ(svg.status, kBadInput);
    EXPECT_TRUE(has(svg.err, ":1: a table of closes, one symbol per column (3: IBM, AAPL, MSFT): choose one with "
                             "--symbol NAME")) << svg.err;

    spit(path("plain.csv.gz"), kGood);
    EXPECT_EQ(scan({path("plain.csv.gz")}).status, kOk);
    spit(path("page.csv.gz"), "<html><body>Not found</body></html>\n");
    const Outcome page = scan({path("page.csv.gz")});
    EXPECT_EQ(page.err, "tidemark-scan: " + path("page.csv.gz") + ":1: a web page (HTML or XML), not a CSV file: the "
                        "download failed or was sent to a login page; open it in a browser to see what it says (the "
                        "file is named .gz, but it is not gzip data)\n");
    spit(path("zeros.csv.gz"), std::string(64, '\0'));
    EXPECT_EQ(scan({path("zeros.csv.gz")}).err,
              "tidemark-scan: " + path("zeros.csv.gz") + ": not a text file (the file is named .gz, but it is not gzip data)\n");
}

// - reads the bars from standard input.
TEST_F(Scan, StandardInput) {
    spit(path("bars.csv"), kGood);
    ASSERT_NE(std::freopen(path("bars.csv").c_str(), "rb", stdin), nullptr);
    const Outcome r = scan({"-", "--json"});
    ASSERT_EQ(r.status, kOk) << r.err;
    const Json j = parsed(r.out);
    EXPECT_EQ(j["input"], "<stdin>");
    EXPECT_EQ(j["bar_count"], 5);
    spit(path("bad.csv"), "2020-01-02,10,12,9,13\n");
    ASSERT_NE(std::freopen(path("bad.csv").c_str(), "rb", stdin), nullptr);
    const Outcome bad = scan({"-"});
    EXPECT_EQ(bad.status, kBadInput);
    EXPECT_EQ(bad.err, "tidemark-scan: <stdin>:1: close 13 is above high 12\n");
}

// A file whose bars do not fit in memory is a file that fails, with its one
// line, not the end of the run or of the screen.
TEST_F(Scan, FileTooLargeForMemoryFailsAlone) {
    spit(path("small.csv"), kGood);
    spit(path("large.csv"), slurp(TIDEMARK_SAMPLE));
    const std::string no_memory = path("large.csv") + ": " + kNoMemory;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string out;  // what stdout starts with
    };
    const std::vector<Case> cases = {
        {"one file", {path("large.csv")}, ""},
        {"one file, JSON", {path("large.csv"), "--json"}, "{\"error\":"},
        {"a screen", {path("large.csv"), path("small.csv")}, "tidemark-scan: 2 files, 1 unreadable"},
        {"a screen, JSON", {path("large.csv"), path("small.csv"), "--json"}, "["},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The sample's 48 KB cannot be read; the five bars of small.csv can.
        refuse_above = 16 << 10;
        const Outcome r = scan(c.args);
        refuse_above = SIZE_MAX;
        EXPECT_EQ(r.status, kBadInput);
        EXPECT_EQ(r.err, "tidemark-scan: " + no_memory + "\n");
        EXPECT_EQ(r.out.compare(0, c.out.size(), c.out), 0) << r.out;
        if (c.args.size() < 3) continue;
        EXPECT_TRUE(has(r.out, kNoMemory)) << r.out;
        EXPECT_TRUE(has(r.out, "2020-01-08")) << r.out;  // small.csv's row
    }
    // A file of 1.5 GB (a sparse one here: the sample, then zero bytes) is
    // read a chunk at a time, not whole, which a 32-bit host could not even
    // size a string for: its endless line of zero bytes fails it alone, a
    // mebibyte in, on every host.
    fs::resize_file(fs::u8path(path("large.csv")), std::uintmax_t{1500} << 20);
    const long after = static_cast<long>(count_of(slurp(TIDEMARK_SAMPLE), "\n")) + 1;
    const std::string long_line =
        path("large.csv") + ":" + std::to_string(after) + ": a line longer than 1 MiB: not a file of bars";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", 1.5 GB");
        const Outcome r = scan(c.args);
        EXPECT_EQ(r.status, kBadInput);
        EXPECT_EQ(r.err, "tidemark-scan: " + long_line + "\n");
    }
}

TEST_F(Scan, ShortInputStillReports) {
    // Too few bars for any fractal: no levels, still a report and a chart.
    spit(path("bars.csv"), "2020-01-02,10,12,9,11\n");
    const Outcome one = scan({path("bars.csv"), "--svg", path("c.svg")});
    ASSERT_EQ(one.status, kOk) << one.err;
    EXPECT_TRUE(has(one.out, "no levels")) << one.out;
    EXPECT_EQ(xml_check::problem(slurp(path("c.svg"))), "");
    const Outcome j = scan({path("bars.csv"), "--json"});
    ASSERT_EQ(j.status, kOk) << j.err;
    EXPECT_TRUE(parsed(j.out)["last_close"]["distance"].is_null());
}

TEST(ScanText, NumbersAsShown) {
    for (double v : {0.1, 362.71, 1.0 / 3.0, 5.2633237822349569, 1e-300, 123456789.125}) {
        EXPECT_EQ(std::strtod(exact(v).c_str(), nullptr), v) << exact(v);
    }
    EXPECT_EQ(exact(362.71), "362.71");
    // Decimals follow the data: prices of two decimals with ranges that call
    // for four show two, never padded.
    const std::vector<Bar> cents = {{0, 51.58, 51.6, 51.55, 51.57, 0}, {86400, 51.57, 51.59, 51.56, 51.58, 0}};
    EXPECT_EQ(data_decimals(cents), 2);
    EXPECT_EQ(price_text(51.58, price_style(0.03, data_decimals(cents))), "51.58");
    EXPECT_EQ(price_text(51.58, price_style(0.03)), "51.5800");
    EXPECT_EQ(data_decimals({{0, 12, 13, 11, 12.5, 0}}), 1);
    EXPECT_EQ(data_decimals({{0, 1.23456789123, 2, 1, 1, 0}}), 8);
    EXPECT_EQ(price_text(12.5, price_style(0.5, 1)), "12.50");  // two at least
    EXPECT_EQ(price_decimals(10.5), 2);
    EXPECT_EQ(price_decimals(0.0012), 5);
    EXPECT_EQ(price_decimals(1e-12), 8);
    struct Case {
        double range, value;
        const char* text;
    };
    for (const Case& c : std::vector<Case>{{10.5, 362.714, "362.71"},
                                           {0.0012, 1.234567, "1.23457"},
                                           {1.5e-9, 1.2345678e-8, "1.235e-08"},
                                           {1.5e-12, 3.25e-10, "3.25e-10"},
                                           {1.5e-12, 0, "0.00000000"}}) {
        EXPECT_EQ(price_text(c.value, price_style(c.range)), c.text) << c.range;
    }
}

}  // namespace
