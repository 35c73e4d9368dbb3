// Bytes -> lines: what a file's bytes are (text the reader takes, or not)
// and the lines of that text.
#ifndef TIDEMARK_READER_BYTES_H
#define TIDEMARK_READER_BYTES_H

#include <cstddef>
#include <string_view>

namespace tidemark::reader {

// Null when text can be read as UTF-8 (or ASCII) text, else why not.
const char* encoding_fault(std::string_view text);

// The lines of a text: a UTF-8 byte-order mark skipped, lines ending in LF,
// CRLF or, in old Mac files, a lone CR (the first line end tells which).
// Lines are views into text, without their ends.
class Lines {
public:
    explicit Lines(std::string_view text);
    // The next line, false after the last.
    bool next(std::string_view& line);
    long number() const { return number_; }           // 1-based, of the line last returned
    std::size_t consumed() const { return pos_; }     // bytes of text behind the lines returned
    std::size_t size() const { return total_; }       // bytes of the whole text, mark included
    std::size_t remaining() const { return pos_ < text_.size() ? text_.size() - pos_ : 0; }

private:
    std::string_view text_;
    std::size_t total_ = 0;
    std::size_t pos_ = 0;
    long number_ = 0;
    char eol_ = '\n';
};

}  // namespace tidemark::reader

#endif
