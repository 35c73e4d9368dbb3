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

std::string why(int error) { return std::strerror(error); }

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

bool read_stream(std::FILE* stream, std::string& content, std::string& error) {
    content.clear();
    char chunk[1 << 16];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stream)) > 0) content.append(chunk, n);
    if (std::ferror(stream) != 0) {
        error = "cannot read: " + why(errno);
        return false;
    }
    return true;
}

bool read_file(const std::string& path, std::string& content, std::string& error) {
    if (path_kind(path) == PathKind::folder) {
        error = "cannot read: it is a folder";
        return false;
    }
    std::FILE* file = open_file(path, "rb");
    if (file == nullptr) {
        error = "cannot open: " + why(errno);
        return false;
    }
    // Straight into the string at its full size; a file that grew meanwhile
    // is read on to its end.
    std::error_code ec;
    const auto size = fs::file_size(fs::u8path(path), ec);
    content.clear();
    if (!ec && size > 0) {
        content.resize(static_cast<std::size_t>(size));
        content.resize(std::fread(content.data(), 1, content.size(), file));
    }
    std::string rest;
    const bool ok = std::ferror(file) == 0 && read_stream(file, rest, error);
    if (std::ferror(file) != 0 && error.empty()) error = "cannot read: " + why(errno);
    content += rest;
    std::fclose(file);
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
