// The command's own files by UTF-8 name on every system: the charts it
// writes and the folders it screens (reading a file is the reader's,
// input.h). On Windows every call goes through the wide (UTF-16) APIs.
#ifndef TIDEMARK_SCAN_FILES_H
#define TIDEMARK_SCAN_FILES_H

#include <cstdio>
#include <string>
#include <vector>

#include "input.h"

namespace tidemark::scan {

using namespace reader;

// Writes content to a temporary file beside path and renames it over path,
// so that path is either as it was or complete. error names path.
bool write_file_atomically(const std::string& path, const std::string& content, std::string& error);

// The *.csv and *.csv.gz files (any case) directly in folder, sorted by name, each joined
// to folder with the folder's own separator. error does not name the folder.
bool list_csv_files(const std::string& folder, std::vector<std::string>& paths, std::string& error);

// The name ends in tail (written in lower case), in any case, with
// something before it: has_extension("Chart.SVG", ".svg").
bool has_extension(const std::string& name, const std::string& tail);

// Both name one existing file (through links, case or different spellings).
bool same_file(const std::string& a, const std::string& b);

// The file starts as an SVG document does (an XML declaration, comment or
// <svg tag within its first few kilobytes).
bool looks_like_svg(const std::string& path);

// The file starts with one of the heads, byte for byte.
bool starts_with_any(const std::string& path, const std::vector<std::string>& heads);

// Whether a name holds * or ?, which a Windows program expands itself (no
// shell does it there).
bool has_wildcard(const std::string& name);

// The files a name with * and ? in its last part matches (any case, as
// Windows matches), sorted, each joined to the folder part as written;
// none when nothing matches or the folder part has wildcards too.
std::vector<std::string> expand_wildcard(const std::string& pattern);

#ifdef _WIN32
// Command-line arguments as UTF-8, from wmain's UTF-16.
std::vector<std::string> utf8_arguments(int argc, wchar_t** argv);
#endif

}  // namespace tidemark::scan

#endif
