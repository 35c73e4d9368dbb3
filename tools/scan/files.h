// Files by UTF-8 name on every system. On Windows every call goes through the
// wide (UTF-16) APIs, so that a name the ANSI code page cannot encode
// (données.csv, цены.csv, 株価.csv) works as any other.
#ifndef TIDEMARK_SCAN_FILES_H
#define TIDEMARK_SCAN_FILES_H

#include <cstdio>
#include <string>
#include <vector>

namespace tidemark::scan {

// fopen with a UTF-8 name.
std::FILE* open_file(const std::string& path, const char* mode);

// The whole file; on failure error is "cannot open: ..." or "cannot read: ...".
bool read_file(const std::string& path, std::string& content, std::string& error);

// The rest of a stream (standard input), read as bytes.
bool read_stream(std::FILE* stream, std::string& content, std::string& error);

// Writes content to a temporary file beside path and renames it over path,
// so that path is either as it was or complete. error names path.
bool write_file_atomically(const std::string& path, const std::string& content, std::string& error);

enum class PathKind { missing, file, folder, other };
PathKind path_kind(const std::string& path);

// The *.csv files (any case) directly in folder, sorted by name, each joined
// to folder with the folder's own separator. error does not name the folder.
bool list_csv_files(const std::string& folder, std::vector<std::string>& paths, std::string& error);

// Both name one existing file (through links, case or different spellings).
bool same_file(const std::string& a, const std::string& b);

// The file starts as an SVG document does (an XML declaration, comment or
// <svg tag within its first few kilobytes).
bool looks_like_svg(const std::string& path);

#ifdef _WIN32
// Command-line arguments as UTF-8, from wmain's UTF-16.
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);
#endif

}  // namespace tidemark::scan

#endif
