// The few text forms the reader's messages and a result's fields share with
// every front end, so that a date or a number reads the same everywhere.
#ifndef TIDEMARK_READER_TEXT_H
#define TIDEMARK_READER_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tidemark::reader {

// An ASCII letter in lower case, any other byte as it is: names and words in
// files are matched without regard to case, whatever the locale.
inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A bar's time: "2020-01-02" for a daily series, "2020-01-02 13:45" (":SS"
// added when the seconds are not 0) for an intraday one. Always UTC.
std::string time_text(int64_t seconds, bool intraday);

// Shortest decimal text that reads back as the same double.
std::string exact(double value);

// A field as quoted in a message: text that is not UTF-8 read as
// Windows-1252, control bytes escaped, so that the message stays one line of
// valid UTF-8 on any terminal, and long fields cut short.
std::string shown(std::string_view field);

// The text with each byte that starts no valid UTF-8 sequence (overlong
// forms, surrogates and code points beyond U+10FFFF included) replaced by
// U+FFFD, so that a name in a legacy encoding can go into XML or JSON.
std::string valid_utf8(std::string_view text);

// A code point (at most U+10FFFF) appended to out as UTF-8.
void append_utf8(std::string& out, uint32_t cp);

// Names as a message lists them: the first 12 shown(), joined by ", ",
// then "..." when there are more (or when more says so).
std::string shown_list(const std::vector<std::string>& names, bool more = false);

// Windows-1252 bytes as UTF-8.
std::string from_windows_1252(std::string_view text);

// The text itself when it is UTF-8, else read as Windows-1252 (the likely
// legacy encoding of a name or a field) into storage: what a message shows
// and what a user's UTF-8 is matched with.
std::string_view as_utf8(std::string_view text, std::string& storage);

// The length of the valid UTF-8 sequence at text[i], or 0 when none starts
// there.
std::size_t utf8_sequence(std::string_view text, std::size_t i);

}  // namespace tidemark::reader

#endif
