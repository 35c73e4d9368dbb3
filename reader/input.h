// Files by UTF-8 name on every system. On Windows every call goes through the
// wide (UTF-16) APIs, so that a name the ANSI code page cannot encode
// (données.csv, цены.csv, 株価.csv) works as any other.
#ifndef TIDEMARK_READER_INPUT_H
#define TIDEMARK_READER_INPUT_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "bytes.h"

namespace tidemark::reader {

// fopen with a UTF-8 name.
std::FILE* open_file(const std::string& path, const char* mode);

// The whole file; on failure error is "cannot open: ..." or "cannot read: ...".
bool read_file(const std::string& path, std::string& content, std::string& error);

// The rest of a stream (standard input), read as bytes.
bool read_stream(std::FILE* stream, std::string& content, std::string& error);

// The bytes of an open stream (a file, standard input), a chunk at a time;
// the stream is not closed here. size: the file's size when known, else 0.
class FileSource : public Source {
public:
    explicit FileSource(std::FILE* stream, std::uint64_t size = 0) : stream_(stream), size_(size) {}
    Got next(std::string_view& chunk, std::string& why) override;
    std::uint64_t position() const override { return position_; }
    std::uint64_t size() const override { return size_; }

private:
    std::FILE* stream_;
    std::uint64_t size_;
    std::uint64_t position_ = 0;
    std::unique_ptr<char[]> buffer_;
    std::size_t buffer_size_ = 0;
    bool ended_ = false;
};

// Opens a file to read, with its size: "cannot open: ..." or "cannot read:
// it is a folder" in why when it cannot.
std::FILE* open_to_read(const std::string& path, std::uint64_t& size, std::string& why);

enum class PathKind { missing, file, folder, other };
PathKind path_kind(const std::string& path);

#ifdef _WIN32
// UTF-16 from UTF-8, for the wide APIs.
std::wstring widened(const std::string& utf8);
#endif

}  // namespace tidemark::reader

#endif
