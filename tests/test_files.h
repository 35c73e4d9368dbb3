// Files as other programs write them, built here byte by byte: gzip and
// UTF-16 text, for the reader's tests.
#ifndef TIDEMARK_TESTS_TEST_FILES_H
#define TIDEMARK_TESTS_TEST_FILES_H

#include <algorithm>
#include <cstdint>
#include <string>

namespace test_files {

// One gzip member holding text in stored (uncompressed) deflate blocks of at
// most 7 bytes, written out by hand as the format describes it.
inline std::string gzip_stored(const std::string& text) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : text) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc = ~crc;
    std::string out("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\xFF", 10);
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(7, text.size() - pos);
        const bool last = pos + n == text.size();
        out += static_cast<char>(last ? 1 : 0);
        out += static_cast<char>(n & 0xFF);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(~n & 0xFF);
        out += static_cast<char>((~n >> 8) & 0xFF);
        out += text.substr(pos, n);
        pos += n;
    } while (pos < text.size());
    for (const uint32_t word : {crc, static_cast<uint32_t>(text.size())})
        for (int k = 0; k < 4; ++k) out += static_cast<char>((word >> (8 * k)) & 0xFF);
    return out;
}

// UTF-8 text as UTF-16 with a byte-order mark.
inline std::string utf16(const std::string& utf8, bool little_endian) {
    std::string out;
    const auto unit = [&](uint32_t u) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += little_endian ? lo : hi;
        out += little_endian ? hi : lo;
    };
    unit(0xFEFF);
    for (std::size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        const std::size_t n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t cp = n == 1 ? b : b & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

}  // namespace test_files

#endif
