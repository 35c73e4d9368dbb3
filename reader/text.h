// The few text forms the reader's messages and a result's fields share with
// every front end, so that a date or a number reads the same everywhere.
#ifndef TIDEMARK_READER_TEXT_H
#define TIDEMARK_READER_TEXT_H

#include <cstdint>
#include <string>
#include <string_view>

namespace tidemark::reader {

// A bar's time: "2020-01-02" for a daily series, "2020-01-02 13:45" (":SS"
// added when the seconds are not 0) for an intraday one. Always UTC.
std::string time_text(int64_t seconds, bool intraday);

// Shortest decimal text that reads back as the same double.
std::string exact(double value);

// A field as quoted in a message: control bytes escaped, so that the message
// stays one line on any terminal, and long fields cut short.
std::string shown(std::string_view field);

}  // namespace tidemark::reader

#endif
