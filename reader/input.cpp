#include "input.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace tidemark::reader {
namespace {

// strerror's text without its shared buffer: files are read on many threads.
std::string why_of(int error) { return std::generic_category().message(error); }

}  // namespace

#ifdef _WIN32
std::wstring widened(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}
#endif

std::FILE* open_file(const std::string& path, const char* mode) {
#ifdef _WIN32
    return _wfopen(widened(path).c_str(), widened(mode).c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

Source::Got FileSource::next(std::string_view& chunk, std::string& why) {
    // Chunks of a megabyte: few calls, and little memory beside the bars.
    constexpr std::size_t kChunk = 1u << 20;
    if (ended_) return Got::end;
    // A small file takes a buffer of its size (and a byte more, to see its
    // end in one read).
    const std::size_t want = size_ > 0 && size_ < kChunk ? static_cast<std::size_t>(size_) + 1 : kChunk;
    // Not zeroed first: fread fills what is read, and that is all a chunk shows.
    if (buffer_size_ != want) {
        buffer_.reset(new char[want]);
        buffer_size_ = want;
    }
    const std::size_t n = std::fread(buffer_.get(), 1, buffer_size_, stream_);
    if (n == 0) {
        ended_ = true;
        if (std::ferror(stream_) != 0) {
            why = "cannot read: " + why_of(errno);
            return Got::error;
        }
        buffer_.reset();
        buffer_size_ = 0;
        return Got::end;
    }
    position_ += n;
    chunk = std::string_view(buffer_.get(), n);
    return Got::chunk;
}

std::FILE* open_to_read(const std::string& path, std::uint64_t& size, std::string& why) {
    size = 0;
    if (path_kind(path) == PathKind::folder) {
        why = "cannot read: it is a folder";
        return nullptr;
    }
    std::FILE* file = open_file(path, "rb");
    if (file == nullptr) {
        why = "cannot open: " + why_of(errno);
        return nullptr;
    }
    std::error_code ec;
    const auto bytes = fs::file_size(fs::u8path(path), ec);
    if (!ec) size = bytes;
    return file;
}

bool read_stream(std::FILE* stream, std::string& content, std::string& error) {
    content.clear();
    char chunk[1 << 16];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stream)) > 0) content.append(chunk, n);
    if (std::ferror(stream) != 0) {
        error = "cannot read: " + why_of(errno);
        return false;
    }
    return true;
}

bool read_file(const std::string& path, std::string& content, std::string& error) {
    std::uint64_t size = 0;
    std::FILE* file = open_to_read(path, size, error);
    if (file == nullptr) return false;
    // Straight into the string at its full size; a file that grew meanwhile
    // is read on to its end.
    content.clear();
    if (size > 0) {
        content.resize(static_cast<std::size_t>(size));
        content.resize(std::fread(content.data(), 1, content.size(), file));
    }
    std::string rest;
    const bool ok = std::ferror(file) == 0 && read_stream(file, rest, error);
    if (std::ferror(file) != 0 && error.empty()) error = "cannot read: " + why_of(errno);
    content += rest;
    static_cast<void>(std::fclose(file));  // read only: nothing is lost on a failed close
    return ok;
}

PathKind path_kind(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(fs::u8path(path), ec);
    if (ec || status.type() == fs::file_type::not_found) return PathKind::missing;
    if (status.type() == fs::file_type::directory) return PathKind::folder;
    if (status.type() == fs::file_type::regular) return PathKind::file;
    return PathKind::other;
}

}  // namespace tidemark::reader
