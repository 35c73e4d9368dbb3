// The fast rows (reader/fast.h) against the stages alone: a file of the
// common shape with one line that is not quite of it, each read with and
// without the fast rows, whole and cut into chunks at every byte around that
// line, must give the same bars bit for bit, the same counts and the same
// message. The fast rows must also have read the lines around it: else the
// table would hold the stages to themselves.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bars.h"
#include "bytes.h"
#include "input.h"
#include "read_compare.h"
#include "test_files.h"
#include "text.h"

namespace {

using namespace tidemark::reader;
using read_compare::expect_same;
using read_compare::Read;
using read_compare::read_source;
using read_compare::read_text;

// The first chunk ends at cut, the second is the rest: a line, a number or a
// date cut in two as the chunks of a file or of standard input can cut it.
class SplitSource : public Source {
public:
    SplitSource(std::string_view bytes, std::size_t cut) : bytes_(bytes), cut_(std::min(cut, bytes.size())) {}
    Got next(std::string_view& chunk, std::string&) override {
        if (pos_ >= bytes_.size()) return Got::end;
        const std::size_t end = pos_ < cut_ ? cut_ : bytes_.size();
        chunk = bytes_.substr(pos_, end - pos_);
        pos_ = end;
        return Got::chunk;
    }
    std::uint64_t position() const override { return pos_; }
    std::uint64_t size() const override { return bytes_.size(); }

private:
    std::string_view bytes_;
    std::size_t cut_;
    std::size_t pos_ = 0;
};

constexpr std::size_t kBars = 160;
constexpr std::size_t kOdd = 100;  // the bar whose line is not quite of the shape

std::string price(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    return text;
}

// Bar i's fields: a minute bar from 2020-01-02 09:30, or a weekday's bar.
std::vector<std::string> bar_fields(std::size_t i, bool daily) {
    // Weekdays from Thursday 2020-01-02, or minutes from 09:30 that day.
    const int64_t day = 18263 + static_cast<int64_t>((i / 5) * 7 + i % 5);
    const std::string date = daily ? time_text(day * 86400, false) : time_text(18263 * 86400 + 60 * (570 + static_cast<int64_t>(i)), true);
    const double open = 100 + static_cast<double>(i % 7) * 0.25;
    return {date, price(open), price(open + 1.5), price(open - 1.25), price(open + 0.5), std::to_string(1000 + i)};
}

// The file's lines: a header, then a line per bar.
using Lines = std::vector<std::vector<std::string>>;
Lines file_lines(bool daily) {
    Lines lines = {{"Date", "Open", "High", "Low", "Close", "Volume"}};
    for (std::size_t i = 0; i < kBars; ++i) lines.push_back(bar_fields(i, daily));
    return lines;
}

std::string joined(const Lines& lines, char separator = ',', const char* eol = "\n") {
    std::string text;
    for (const auto& fields : lines) {
        for (std::size_t k = 0; k < fields.size(); ++k) text += (k ? std::string(1, separator) : "") + fields[k];
        text += eol;
    }
    return text;
}

enum class Who { fast, stages, either };  // who must read the lines around the odd one

struct NearMiss {
    const char* name;
    std::function<std::string(Lines)> text;
    Who who = Who::fast;
    bool daily = false;
    ReadOptions options = {};
};

// The odd bar's line changed by edit, the file otherwise plain.
std::function<std::string(Lines)> odd(std::function<void(std::vector<std::string>&)> edit) {
    return [edit](Lines lines) {
        edit(lines[kOdd + 1]);
        return joined(lines);
    };
}

// The byte where the odd bar's line starts.
std::size_t odd_offset(const std::string& text, const std::string& start) {
    const std::size_t at = text.find("\n" + start);
    return at == std::string::npos ? 0 : at + 1;
}

TEST(FastRows, NearMissesReadAsTheStagesReadThem) {
    const auto field = [](std::size_t k, std::string value) {
        return odd([k, value](std::vector<std::string>& f) { f[k] = value; });
    };
    const auto quoted = [](std::size_t k) { return odd([k](std::vector<std::string>& f) { f[k] = "\"" + f[k] + "\""; }); };
    const auto time_as = [](std::string clock) {
        return odd([clock](std::vector<std::string>& f) { f[0] = f[0].substr(0, 10) + clock; });
    };
    const auto line_as = [](std::string line) {
        return [line](Lines lines) {
            std::string text = joined(lines);
            const std::string old = joined(Lines{lines[kOdd + 1]});
            return text.replace(text.find(old), old.size(), line + "\n");
        };
    };
    const auto inserted = [](std::string line) {
        return [line](Lines lines) {
            std::string text = joined(lines);
            return text.insert(text.find(joined(Lines{lines[kOdd + 1]})), line + "\n");
        };
    };
    ReadOptions serial;
    serial.dates = DateOrder::serial;
    const std::vector<NearMiss> cases = {
        {"every line plain", [](Lines l) { return joined(l); }},
        {"a quoted price", quoted(1)},
        {"a quoted date", quoted(0)},
        {"a quoted volume with a thousands separator", field(5, "\"1,234\"")},
        {"a decimal comma in a comma file", field(1, "100,25")},
        {"an exponent", field(2, "1.0175e2")},
        {"a price of 16 digits", field(1, "100.2500000000000")},
        {"a price of 15 digits", field(1, "100.250000000000")},
        {"a price with a plus sign", field(1, "+100.25")},
        {"a price without digits before the point", field(4, ".5e2")},
        {"a price with a point and no decimals", field(2, "103.")},
        {"a blank after a price", field(3, "98.75 ")},
        {"a blank before the date", odd([](std::vector<std::string>& f) { f[0] = " " + f[0]; })},
        {"a currency sign", field(4, "$101.00")},
        {"a volume with a suffix", field(5, "1.2K")},
        {"an unknown volume", field(5, "n/a")},
        {"a negative volume", field(5, "-5")},
        {"a row of nulls", line_as("2020-01-02 11:10,null,null,null,null,0")},
        {"high below low", field(2, "97.00")},
        {"open above high", field(1, "200.00")},
        {"a date of another form mid-file", field(0, "01/02/2020 11:10")},
        {"a date with T", time_as("T11:10")},
        {"a date with t", time_as("t11:10")},
        {"a date with seconds", time_as(" 11:10:00")},
        {"a date with a fraction of a second", time_as(" 11:10:00.5")},
        {"a date with Z", time_as(" 11:10Z")},
        {"a date with an hour of one digit", time_as(" 9:10")},
        {"a second of 60", time_as(" 11:10:60")},
        {"an hour of 24", time_as(" 24:00")},
        {"a day that does not exist", field(0, "2020-02-30 11:10")},
        {"a month of one digit", field(0, "2020-1-02 11:10")},
        {"a bar out of order", field(0, "2020-01-02 09:30")},
        {"a bar repeated exactly", [](Lines l) {
             l[kOdd + 1] = l[kOdd];
             l.push_back(bar_fields(kBars, false));
             return joined(l);
         }},
        {"a bar repeated with another close", [](Lines l) {
             l[kOdd + 1] = l[kOdd];
             l[kOdd + 1][4] = "100.00";
             return joined(l);
         }},
        {"one field too many", odd([](std::vector<std::string>& f) { f.push_back("7"); })},
        {"a separator at the end", odd([](std::vector<std::string>& f) { f.back() += ","; })},
        {"one field too few", odd([](std::vector<std::string>& f) { f.pop_back(); })},
        {"a blank line", inserted("")},
        {"a comment line", inserted("# a note")},
        {"a row of separators", inserted(",,,,,")},
        {"a note after the bars", [](Lines l) { return joined(l) + "Source: an example, data delayed\n"; }},
        {"the header again (two downloads pasted)", [](Lines l) {
             Lines pasted(l.begin(), l.begin() + static_cast<long>(kOdd) + 1);
             pasted.push_back(l[0]);
             pasted.insert(pasted.end(), l.begin() + static_cast<long>(kOdd) - 9, l.end());
             return joined(pasted);
         }},
        {"a comment line of 100 KB", inserted("#" + std::string(100000, 'c'))},
        {"a line over 1 MiB", inserted(std::string(1100000, '7'))},
        {"a CR inside a line", field(3, "98.75\r")},
        {"one line ends in CRLF", field(5, "1100\r")},
        {"every line ends in CRLF", [](Lines l) { return joined(l, ',', "\r\n"); }},
        {"every line ends in CR", [](Lines l) { return joined(l, ',', "\r"); }, Who::stages},
        {"no line end after the last", [](Lines l) {
             std::string text = joined(l);
             text.pop_back();
             return text;
         }},
        {"a UTF-8 byte-order mark", [](Lines l) { return "\xEF\xBB\xBF" + joined(l); }},
        {"gzip", [](Lines l) { return test_files::gzip_stored(joined(l)); }, Who::either},
        {"UTF-16", [](Lines l) { return test_files::utf16(joined(l), true); }, Who::either},
        {"a sep= line first", [](Lines l) { return "sep=,\n" + joined(l); }},
        {"newest first", [](Lines l) {
             std::reverse(l.begin() + 1, l.end());
             return joined(l);
         }},
        {"semicolons and decimal commas", [](Lines l) {
             std::string text = joined(l, ';');
             std::replace(text.begin(), text.end(), '.', ',');
             return text;
         }},
        {"semicolons, one price with a point", [](Lines l) {
             l[kOdd + 1][1] = "100.75";
             std::string text;
             for (std::size_t k = 0; k < l.size(); ++k) {
                 std::string line = joined(Lines{l[k]}, ';');
                 if (k != kOdd + 1) std::replace(line.begin(), line.end(), '.', ',');
                 text += line;
             }
             return text;
         }},
        {"tabs", [](Lines l) { return joined(l, '\t'); }, Who::stages},
        {"a column not read", [](Lines l) {
             for (std::size_t k = 0; k < l.size(); ++k) l[k].insert(l[k].begin() + 5, k == 0 ? "Adj Close" : "x\"y");
             l[kOdd + 1][5] = "\"1,5\"";
             return joined(l);
         }},
        {"a first column not read, a # in it", [](Lines l) {
             for (std::size_t k = 0; k < l.size(); ++k) l[k].insert(l[k].begin(), k == 0 ? "Id" : std::to_string(k));
             l[kOdd + 1][0] = "#7";
             return joined(l);
         }},
        {"no header, a volume on some lines", [](Lines l) {
             l.erase(l.begin());
             for (std::size_t k = 0; k < l.size(); k += 3) l[k].pop_back();
             l[kOdd].push_back("8");
             return joined(l);
         }},
        {"a time column", [](Lines l) {
             for (std::size_t k = 0; k < l.size(); ++k) {
                 const std::string stamp = l[k][0];
                 l[k][0] = k == 0 ? "Date" : stamp.substr(0, 10);
                 l[k].insert(l[k].begin() + 1, k == 0 ? "Time" : stamp.substr(11));
             }
             return joined(l);
         }, Who::stages},
        {"epoch seconds", [](Lines l) {
             for (std::size_t k = 1; k < l.size(); ++k) l[k][0] = std::to_string(1577957400 + 60 * k);
             return joined(l);
         }, Who::stages},
        {"a symbol column", [](Lines l) {
             for (std::size_t k = 0; k < l.size(); ++k) l[k].push_back(k == 0 ? "Symbol" : "ACME");
             return joined(l);
         }, Who::stages},
        {"dates alone", [](Lines l) { return joined(l); }, Who::fast, true},
        {"dates alone, one at midnight with an offset", odd([](std::vector<std::string>& f) { f[0] += " 00:00+02:00"; }),
         Who::fast, true},
        {"dates alone, one at a time of day", odd([](std::vector<std::string>& f) { f[0] += " 16:00"; }), Who::fast,
         true},
        {"dates alone as asked for day numbers", [](Lines l) { return joined(l); }, Who::fast, true, serial},
        {"dates alone, one a day number", field(0, "43900"), Who::fast, true, serial},
        {"dates alone, newest first", [](Lines l) {
             std::reverse(l.begin() + 1, l.end());
             return joined(l);
         }, Who::fast, true},
    };
    for (const NearMiss& c : cases) {
        SCOPED_TRACE(c.name);
        const Lines lines = file_lines(c.daily);
        const std::string text = c.text(lines);
        const Read want = read_text(text, c.options, false);
        const Read fast = read_text(text, c.options, true);
        expect_same(fast, want, "whole");
        const std::size_t around = want.ok ? want.series.bars.size() - 8 : 0;
        if (c.who == Who::fast) {
            // All but the first bar and the odd line and those the chunk cut
            // (or the lines up to the fault).
            EXPECT_GE(fast.series.fast_lines, want.ok ? around : kOdd - 10);
        }
        if (c.who == Who::stages) {
            EXPECT_EQ(fast.series.fast_lines, 0u);
        }
        // Cut at every byte from two lines before the odd one to two after.
        const std::size_t at = odd_offset(text, lines[kOdd - 1][0]);
        for (std::size_t cut = at; at > 0 && cut < std::min(text.size(), at + 250); ++cut) {
            SplitSource split(text, cut);
            expect_same(read_source(split, c.options, true), want, "cut at byte " + std::to_string(cut));
            if (testing::Test::HasFailure()) return;
        }
        for (const std::size_t chunk : {1, 7, 64, 4097}) {
            expect_same(read_text(text, c.options, true, chunk), want, "chunks of " + std::to_string(chunk));
            if (testing::Test::HasFailure()) return;
        }
    }
}

// Real files: the project's sample and the shared bars, read both ways.
TEST(FastRows, RealFilesReadAsTheStagesReadThem) {
    std::string text, error;
    ASSERT_TRUE(read_file(TIDEMARK_SAMPLE, text, error)) << error;
    const Read fast = read_compare::expect_fast_as_stages(text, ReadOptions{}, TIDEMARK_SAMPLE);
    EXPECT_GE(fast.series.fast_lines + 2, fast.series.bars.size());
}

}  // namespace
