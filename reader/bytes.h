// Bytes -> lines: the bytes of a file, streamed in chunks; what they are
// (text the reader takes, or not); and the lines of that text.
#ifndef TIDEMARK_READER_BYTES_H
#define TIDEMARK_READER_BYTES_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tidemark::reader {

// Where bytes come from, a chunk at a time. A chunk stays valid until the
// next call.
class Source {
public:
    virtual ~Source() = default;
    enum class Got { chunk, end, error };
    // The next chunk (never empty); end after the last (and on every call
    // after it); error with why set.
    virtual Got next(std::string_view& chunk, std::string& why) = 0;
    // The bytes of the underlying file or buffer delivered so far, and its
    // size when known (else 0): for progress and for estimates.
    virtual std::uint64_t position() const = 0;
    virtual std::uint64_t size() const = 0;
};

// Bytes in memory, in chunks of at most chunk_size (0: all at once).
class MemorySource : public Source {
public:
    explicit MemorySource(std::string_view bytes, std::size_t chunk_size = 0)
        : bytes_(bytes), chunk_size_(chunk_size == 0 ? bytes.size() : chunk_size) {}
    Got next(std::string_view& chunk, std::string& why) override;
    std::uint64_t position() const override { return pos_; }
    std::uint64_t size() const override { return bytes_.size(); }

private:
    std::string_view bytes_;
    std::size_t chunk_size_;
    std::size_t pos_ = 0;
};

// The bytes of a gzip stream (one or more members), inflated.
std::unique_ptr<Source> gunzip(std::unique_ptr<Source> compressed);

// Null when text can be read as UTF-8 (or ASCII) text, else why not. head is
// the start of the bytes (the first few kilobytes are enough).
const char* encoding_fault(std::string_view head);

// The text of a source as UTF-8: its first bytes tell what it holds. gzip
// data is inflated first; UTF-16 with a byte-order mark (either byte order)
// is turned into UTF-8 as it streams, unpaired surrogates becoming U+FFFD; a
// UTF-8 byte-order mark is dropped. Null with why set when the bytes are no
// text the reader takes. The result reads from raw, which must outlive it.
// gzip, when given, tells whether the bytes were gzip data.
std::unique_ptr<Source> text_of(Source& raw, std::string& why, bool* gzip = nullptr);

// The lines of a text: lines ending in LF, CRLF or, in old Mac files, a lone
// CR (the first line end tells which). A line is a view, without its end,
// valid until the next call.
class Lines {
public:
    explicit Lines(Source& text) : source_(text) {}
    // The next line; false after the last, or on a read error (failed()).
    bool next(std::string_view& line);
    long number() const { return number_; }  // 1-based, of the line last returned
    // For a reader that takes whole lines many at a time: the text from the
    // next line to the end of the chunk at hand (the next chunk's, when this
    // one is used up), and took() to say how much of it it read, whole
    // lines only. Empty unless the lines end in LF (or CRLF) and no line is
    // carried over from an earlier chunk; a line the chunk cuts is for
    // next(), which carries it.
    std::string_view rest();
    void took(std::size_t bytes, long lines) {
        pos_ += bytes;
        number_ += lines;
    }

    // A read error (line 0), or a line too long for a file of bars (its line).
    bool failed() const { return failed_; }
    long failed_line() const { return failed_line_; }
    const std::string& why() const { return why_; }

    // No row of bars comes near this; a file with longer lines is not one,
    // and holding such a line would take the file's size in memory.
    static constexpr std::size_t kLongest = 1u << 20;

private:
    bool pull();  // the next chunk into chunk_; false at the end or on an error
    bool keep(const char* data, std::size_t size);  // into carry_, within kLongest
    void drop_returned_carry();  // the carried line, once returned, is done with
    // The first line end tells which ends the file uses: eol_ set from the
    // first LF, CRLF or lone CR in data (left 0 when there is none). False
    // when that end is a CR that ends data: the next byte tells.
    bool settle_eol(const char* data, std::size_t left);

    Source& source_;
    std::string_view chunk_;
    std::size_t pos_ = 0;
    std::string carry_;  // a line begun in an earlier chunk
    bool carry_returned_ = false;
    char eol_ = 0;  // 0 until the first line end is seen
    bool ended_ = false, failed_ = false;
    long number_ = 0;
    long failed_line_ = 0;
    std::string why_;
};

}  // namespace tidemark::reader

#endif
