// The CSV reader on arbitrary bytes: every separator, quoting, encoding
// (UTF-8, UTF-16 with a mark, Windows-1252, gzip) and line-end path. What it
// accepts must be a usable series, and it must not matter how the bytes
// arrive.
//
// Checks:
// - read with the fast rows (reader/fast.h) and by the stages alone, line
//   by line, give the same bars, bit for bit, the same counts and the same
//   message;
// - read whole (a buffer), read in small chunks and read from a stream
//   (standard input's path, through a FILE*) give the same bars, bit for
//   bit, or the same message;
// - an accepted series has times strictly increasing, every price finite,
//   low <= open, close <= high and a finite range, a volume of 0 or more;
// - every token of the input that the number stage accepts equals strtod of
//   its text after the documented normalisation (a decimal comma, when
//   allowed, read as the point), and strtod reads all of it; so does every
//   token it accepts as a price (currency signs, spaces and the thousands
//   separator dropped) or as a volume (a K, M or B suffix as e3, e6, e9).
//
// Input: u8 flags, then the file's bytes.
//   flags bits 0-2: chunk size - 1 for the chunked read (1 ... 8 bytes);
//   flags bit 3:    a comment line of 4,100 bytes goes first, so that the
//                   chunks split lines past the bytes read whole to tell
//                   what the file is;
//   flags bit 4:    that line ends in CR (else LF); bit 5: in CRLF;
//   flags bit 6:    the stream's size is not known (a pipe);
//   flags bit 7:    read with a symbol chosen (ACME: of a symbol column or
//                   a table of closes) and the columns' names and positions
//                   left to the file, else with no option.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "bars.h"
#include "bytes.h"
#include "fuzz_input.h"
#include "input.h"
#include "number.h"
#include "text.h"

namespace {

using namespace tidemark::reader;

// Everything a read gives but fast_lines, which tells only who read them.
bool same(const BarSeries& a, const BarSeries& b) {
    return a.bars.size() == b.bars.size() && a.newest_first == b.newest_first && a.intraday == b.intraday &&
           (a.bars.empty() || std::memcmp(a.bars.data(), b.bars.data(), a.bars.size() * sizeof(Bar)) == 0) &&
           a.duplicates_dropped == b.duplicates_dropped && a.placeholder_rows == b.placeholder_rows &&
           a.unknown_volumes == b.unknown_volumes && a.close_column == b.close_column &&
           a.other_symbol_rows == b.other_symbol_rows && a.close_only == b.close_only && a.period == b.period &&
           a.name_rows_skipped == b.name_rows_skipped && a.notes_skipped == b.notes_skipped;
}

// The documented normalisation, written plainly: the currency signs (UTF-8,
// Windows-1252 bytes, codes), the spaces (no-break ones too) and apostrophes
// go, so does the thousands separator ("," or, with a decimal comma and a
// comma, "."), and a decimal comma becomes the point. Signs of several
// bytes go first: a byte of one may be a sign of its own.
std::string plain(std::string_view token, bool decimal_comma) {
    std::string out(token);
    for (const char* sign : {"\xE2\x82\xAC", "\xE2\x82\xB9", "\xE2\x80\x99", "\xE2\x80\xAF", "\xC2\xA3", "\xC2\xA5",
                             "\xC2\xA0", "US$", "$", "CHF", "Fr.", "EUR", "USD", "GBP", "JPY", "INR", "Rs.", "Rs", "\x80",
                             "\xA3", "\xA5", "\xA0", "'", " "}) {
        for (std::size_t at = out.find(sign); at != std::string::npos; at = out.find(sign))
            out.erase(at, std::strlen(sign));
    }
    // With a decimal comma a point is a thousands separator only when a
    // comma follows; alone it is the point.
    const bool comma = out.find(',') != std::string::npos;
    std::string digits;
    for (char c : out) {
        if (decimal_comma ? (c == '.' && comma) : c == ',') continue;
        digits += decimal_comma && c == ',' ? '.' : c;
    }
    return digits;
}

void check_equal_to_strtod(double value, const std::string& normal, const char* what) {
    char* stop = nullptr;
    const double expected = std::strtod(normal.c_str(), &stop);
    fuzz_input::check(stop == normal.c_str() + normal.size() && !normal.empty(), what);
    fuzz_input::check(std::isfinite(value), "a price or volume that is not finite");
    fuzz_input::check(std::memcmp(&value, &expected, sizeof value) == 0, what);
}

void check_numbers(std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const bool cut = i == text.size() || std::strchr(",;\t\r\n\" ", text[i]) != nullptr;
        if (!cut) continue;
        // Tokens as separated by any separator; with a decimal comma the
        // comma belongs to the number, so a token runs to ; tab or a line end.
        for (const bool decimal_comma : {false, true}) {
            std::size_t end = i;
            if (decimal_comma) {
                end = start;
                while (end < text.size() && std::strchr(";\t\r\n\" ", text[end]) == nullptr) ++end;
            }
            const std::string_view token = text.substr(start, end - start);
            double value = 0;
            if (!parse_number(token, decimal_comma, value)) continue;
            std::string normal(token);
            if (decimal_comma)
                for (char& c : normal)
                    if (c == ',') c = '.';
            char* stop = nullptr;
            const double expected = std::strtod(normal.c_str(), &stop);
            fuzz_input::check(stop == normal.c_str() + normal.size(), "a number strtod does not read whole");
            fuzz_input::check(std::isfinite(value), "a number that is not finite");
            fuzz_input::check(std::memcmp(&value, &expected, sizeof value) == 0, "a number other than strtod's");
        }
        // Prices and volumes as exports write them.
        for (const bool decimal_comma : {false, true}) {
            std::size_t end = start;
            while (end < text.size() && std::strchr(";\t\r\n\"", text[end]) == nullptr) ++end;
            const std::string_view token = text.substr(start, end - start);
            double value = 0;
            if (parse_price(token, decimal_comma, value))
                check_equal_to_strtod(value, plain(token, decimal_comma), "a price other than strtod's of its digits");
            // The suffix is the last character but blanks, which the
            // volume stage trims.
            std::string_view trimmed = token;
            while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
            if (parse_volume(token, decimal_comma, value) && !trimmed.empty()) {
                const char suffix = trimmed.back() | 0x20;
                const bool scaled = suffix == 'k' || suffix == 'm' || suffix == 'b';
                std::string normal = plain(scaled ? trimmed.substr(0, trimmed.size() - 1) : trimmed, decimal_comma);
                if (scaled) normal += suffix == 'k' ? "e3" : suffix == 'm' ? "e6" : "e9";
                check_equal_to_strtod(value, normal, "a volume other than strtod's of its digits");
            }
        }
        start = i + 1;
    }
}

// Another read of the same bytes against the whole one: the same outcome,
// message and series. how names the read in the finding.
void check_same_read(bool got, const ReadError& got_error, const BarSeries& got_series, bool want,
                     const ReadError& want_error, const BarSeries& want_series, const char* how) {
    const auto check = [how](bool ok, const char* what) {
        if (!ok) fuzz_input::fail((std::string(how) + ", " + what).c_str());
    };
    check(got == want, "a different outcome");
    check(got_error.text() == want_error.text(), "a different message");
    check(same(want_series, got_series), "different bars");
}

// What an accepted series must be: bars in a record's time, oldest first,
// each of them sound.
void check_accepted(const BarSeries& series) {
    fuzz_input::check(!series.bars.empty(), "accepted without bars");
    for (std::size_t i = 0; i < series.bars.size(); ++i) {
        const Bar& b = series.bars[i];
        if (i > 0) fuzz_input::check(series.bars[i - 1].time < b.time, "times not strictly increasing");
        fuzz_input::check(b.time >= INT32_MIN && b.time <= INT32_MAX, "a time a record cannot hold");
        fuzz_input::check(std::isfinite(b.open) && std::isfinite(b.high) && std::isfinite(b.low) &&
                              std::isfinite(b.close) && std::isfinite(b.volume),
                          "a value that is not finite");
        fuzz_input::check(b.low <= b.open && b.open <= b.high, "open outside low ... high");
        fuzz_input::check(b.low <= b.close && b.close <= b.high, "close outside low ... high");
        fuzz_input::check(std::isfinite(b.high - b.low), "a range beyond a double");
        fuzz_input::check(b.volume >= 0, "a negative volume");
    }
}

// What a refused read must leave: no bars, and a message of one line of UTF-8.
void check_refused(const BarSeries& series, const ReadError& error) {
    fuzz_input::check(series.bars.empty(), "a failed read left bars");
    const std::string message = error.text();
    fuzz_input::check(message.find('\n') == std::string::npos, "a message of more than one line");
    for (std::size_t i = 0, n = 0; i < message.size(); i += n) {
        n = utf8_sequence(message, i);
        fuzz_input::check(n > 0, "a message that is not UTF-8");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    std::string text;
    if (flags & 8) text = "#" + std::string(4100, 'c') + ((flags & 32) ? "\r\n" : (flags & 16) ? "\r" : "\n");
    text.append(reinterpret_cast<const char*>(data + 1), size - 1);

    ReadOptions options;
    if (flags & 128) options.symbol = "ACME";
    BarSeries whole, chunked, streamed;
    ReadError whole_error, chunked_error, streamed_error;
    const bool read = parse_bars("f.csv", text, whole, whole_error, nullptr, options);

    // The stages alone, every line one by one: the fast rows must give what
    // they give.
    BarSeries general;
    ReadError general_error;
    ReadOptions stages = options;
    stages.fast_rows = false;
    const bool general_read = parse_bars("f.csv", text, general, general_error, nullptr, stages);
    check_same_read(general_read, general_error, general, read, whole_error, whole, "the fast rows and the stages");
    fuzz_input::check(general_error.symbols == whole_error.symbols, "the fast rows and the stages, other symbols");

    MemorySource chunks(text, 1 + (flags & 7));
    const bool chunked_read = read_series("f.csv", chunks, chunked, chunked_error, nullptr, options);
    check_same_read(chunked_read, chunked_error, chunked, read, whole_error, whole, "read in chunks");

    if (std::FILE* stream = fmemopen(text.data(), text.size(), "rb")) {
        // With its size, or not known (a pipe), as the flags say.
        FileSource source(stream, (flags & 64) ? 0 : text.size());
        const bool streamed_read = read_series("f.csv", source, streamed, streamed_error, nullptr, options);
        std::fclose(stream);
        check_same_read(streamed_read, streamed_error, streamed, read, whole_error, whole, "read from a stream");
    }

    if (read) {
        check_accepted(whole);
    } else {
        check_refused(whole, whole_error);
    }
    check_numbers(text);
    return 0;
}
