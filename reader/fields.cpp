#include "fields.h"

#include <cstdint>
#include <cstring>

namespace tidemark::reader {
namespace {

inline bool is_space(char c, char separator) { return c == ' ' || (c == '\t' && separator != '\t'); }

inline std::string_view trimmed(std::string_view s, char separator) {
    std::size_t b = 0, e = s.size();
    while (b < e && is_space(s[b], separator)) ++b;
    while (e > b && is_space(s[e - 1], separator)) --e;
    return s.substr(b, e - b);
}

// The first separator at or after pos, or n. Fields are short, so instead of
// a memchr call per field this tests eight bytes at a time: a byte equal to
// the separator is a zero byte of word ^ pattern, and the lowest byte that
// the zero-byte test flags is always a true one.
inline std::size_t find_separator(const char* p, std::size_t pos, std::size_t n, char separator) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    const uint64_t pattern = kOnes * static_cast<unsigned char>(separator);
    for (; pos + 8 <= n; pos += 8) {
        uint64_t word;
        std::memcpy(&word, p + pos, sizeof word);
        const uint64_t x = word ^ pattern;
        const uint64_t zero = (x - kOnes) & ~x & kHighs;
        if (zero != 0) return pos + static_cast<std::size_t>(__builtin_ctzll(zero) >> 3);
    }
#endif
    while (pos < n && p[pos] != separator) ++pos;
    return pos;
}

}  // namespace

char detect_separator(std::string_view line) {
    int tabs = 0, semicolons = 0, commas = 0;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') quoted = !quoted;
        else if (!quoted) {
            tabs += c == '\t';
            semicolons += c == ';';
            commas += c == ',';
        }
    }
    if (tabs >= semicolons && tabs >= commas && tabs > 0) return '\t';
    if (semicolons >= commas && semicolons > 0) return ';';
    return ',';
}

const char* split(std::string_view line, char separator, Fields& fields) {
    fields.clear();
    const std::size_t n = line.size();
    std::size_t pos = 0;
    for (;;) {
        while (pos < n && is_space(line[pos], separator)) ++pos;
        if (pos < n && line[pos] == '"') {
            const std::size_t start = ++pos;
            for (;; ++pos) {
                if (pos >= n) return "a quoted field is not closed on its line";
                if (line[pos] == '"') {
                    if (pos + 1 < n && line[pos + 1] == '"') {
                        ++pos;
                        continue;
                    }
                    break;
                }
            }
            if (!fields.add(trimmed(line.substr(start, pos - start), separator))) return "more than 256 fields";
            ++pos;
            while (pos < n && is_space(line[pos], separator)) ++pos;
            if (pos < n && line[pos] != separator) return "text follows a quoted field before the separator";
        } else {
            const std::size_t start = pos;
            pos = find_separator(line.data(), pos, n, separator);
            if (!fields.add(trimmed(line.substr(start, pos - start), separator))) return "more than 256 fields";
        }
        if (pos >= n) return nullptr;
        ++pos;  // past the separator
    }
}

}  // namespace tidemark::reader
