// Files by UTF-8 name on every system. On Windows every call goes through the
// wide (UTF-16) APIs, so that a name the ANSI code page cannot encode
// (données.csv, цены.csv, 株価.csv) works as any other.
#ifndef TIDEMARK_READER_INPUT_H
#define TIDEMARK_READER_INPUT_H

#include <cstdio>
#include <string>

namespace tidemark::reader {

// fopen with a UTF-8 name.
std::FILE* open_file(const std::string& path, const char* mode);

// The whole file; on failure error is "cannot open: ..." or "cannot read: ...".
bool read_file(const std::string& path, std::string& content, std::string& error);

// The rest of a stream (standard input), read as bytes.
bool read_stream(std::FILE* stream, std::string& content, std::string& error);

enum class PathKind { missing, file, folder, other };
PathKind path_kind(const std::string& path);

#ifdef _WIN32
// UTF-16 from UTF-8, for the wide APIs.
std::wstring widened(const std::string& utf8);
#endif

}  // namespace tidemark::reader

#endif
