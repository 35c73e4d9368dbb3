#include "files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace tidemark::scan {
namespace {

// A path from UTF-8 text on every system (Windows keeps paths in UTF-16).
fs::path path_of(const std::string& utf8) { return fs::u8path(utf8); }

#ifdef _WIN32
std::string narrowed(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string utf8(static_cast<std::size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), n, nullptr, nullptr);
    return utf8;
}
#endif

std::string why(int error) { return std::strerror(error); }

void remove_quietly(const std::string& path) {
    std::error_code ignored;
    fs::remove(path_of(path), ignored);
}

}  // namespace

bool write_file_atomically(const std::string& path, const std::string& content, std::string& error) {
#ifdef _WIN32
    const std::string temp = path + ".part" + std::to_string(GetCurrentProcessId());
#else
    const std::string temp = path + ".part" + std::to_string(getpid());
#endif
    std::FILE* file = open_file(temp, "wb");
    if (file == nullptr) {
        error = path + ": cannot write: " + why(errno);
        return false;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const int write_errno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        error = path + ": cannot write: " + why(written ? errno : write_errno);
        remove_quietly(temp);
        return false;
    }
#ifdef _WIN32
    const bool renamed =
        MoveFileExW(widened(temp).c_str(), widened(path).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    const bool renamed = std::rename(temp.c_str(), path.c_str()) == 0;
#endif
    if (!renamed) {
#ifdef _WIN32
        error = path + ": cannot replace the file (Windows error " + std::to_string(GetLastError()) + ")";
#else
        error = path + ": cannot replace the file: " + why(errno);
#endif
        remove_quietly(temp);
        return false;
    }
    return true;
}

bool list_csv_files(const std::string& folder, std::vector<std::string>& paths, std::string& error) {
    paths.clear();
    std::error_code ec;
    fs::directory_iterator it(path_of(folder), ec), end;
    if (ec) {
        error = "cannot list the folder: " + ec.message();
        return false;
    }
    // Joined with the separator the folder was named with, so that the names
    // read back as the user wrote them.
    const bool backslash = folder.find('\\') != std::string::npos && folder.find('/') == std::string::npos;
    const char separator = backslash ? '\\' : '/';
    const std::string prefix =
        folder.empty() || folder.back() == '/' || folder.back() == '\\' ? folder : folder + separator;
    for (; it != end; it.increment(ec)) {
        const std::string name = it->path().filename().u8string();
        // Downloads often come compressed; the reader inflates them.
        if (!has_extension(name, ".csv") && !has_extension(name, ".csv.gz")) continue;
        std::error_code kind_ec;
        if (it->is_directory(kind_ec)) continue;
        paths.push_back(prefix + name);
    }
    if (ec) {
        error = "cannot list the folder: " + ec.message();
        return false;
    }
    std::sort(paths.begin(), paths.end());
    return true;
}

bool has_extension(const std::string& name, const std::string& tail) {
    if (name.size() <= tail.size()) return false;
    // ASCII letters in any case, as Windows matches names.
    return std::equal(tail.begin(), tail.end(), name.end() - static_cast<std::ptrdiff_t>(tail.size()),
                      [](char t, char c) { return t == ascii_lower(c); });
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    const bool same = fs::equivalent(path_of(a), path_of(b), ec);
    return !ec && same;
}

namespace {

// The first 4 KiB of a file, or "" when it cannot be read.
std::string head_of(const std::string& path) {
    std::FILE* file = open_file(path, "rb");
    if (file == nullptr) return std::string();
    char head[4096];
    const std::size_t n = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return std::string(head, n);
}

}  // namespace

bool looks_like_svg(const std::string& path) {
    const std::string text = head_of(path);
    if (text.find('\0') != std::string::npos) return false;
    std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    start = text.find_first_not_of(" \t\r\n", start);
    if (start == std::string::npos || text[start] != '<') return false;
    return text.find("<svg") != std::string::npos;
}

bool starts_with_any(const std::string& path, const std::vector<std::string>& heads) {
    const std::string text = head_of(path);
    return !text.empty() && std::any_of(heads.begin(), heads.end(),
                       [&](const std::string& h) { return text.compare(0, h.size(), h) == 0; });
}

namespace {

// * is any run of characters, ? any one; the last * tried is widened when
// the rest fails to match.
bool wildcard_match(const std::string& pattern, const std::string& name) {
    std::size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || ascii_lower(pattern[p]) == ascii_lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

bool has_wildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

std::vector<std::string> expand_wildcard(const std::string& pattern) {
    std::vector<std::string> found;
    const std::size_t cut = pattern.find_last_of("/\\");
    const std::string folder = cut == std::string::npos ? std::string() : pattern.substr(0, cut + 1);
    const std::string name_pattern = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    if (has_wildcard(folder)) return found;
    std::error_code ec;
    fs::directory_iterator it(path_of(folder.empty() ? "." : folder), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().u8string();
        std::error_code kind_ec;
        if (wildcard_match(name_pattern, name) && !it->is_directory(kind_ec)) found.push_back(folder + name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

#ifdef _WIN32
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(narrowed(argv[i]));
    return args;
}
#endif

}  // namespace tidemark::scan
