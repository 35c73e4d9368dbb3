#include "bytes.h"

#include <algorithm>
#include <cstring>

namespace tidemark::reader {
namespace {

// The bytes that tell what a file is.
constexpr std::size_t kSniffed = 4096;

}  // namespace

const char* encoding_fault(std::string_view text) {
    const auto u8 = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 256u; };
    if ((u8(0) == 0xFF && u8(1) == 0xFE) || (u8(0) == 0xFE && u8(1) == 0xFF))
        return "the file is UTF-16 text: save it as UTF-8 (or ASCII) to read it";
    // Text holds no zero bytes. UTF-16 without a mark has them in every other
    // byte, and none in the bytes between; anything else with zero
    // bytes (a file of them, an image, an archive) is no text at all.
    const std::size_t n = std::min<std::size_t>(text.size(), kSniffed);
    std::size_t zeros[2] = {0, 0};
    for (std::size_t i = 0; i < n; ++i) zeros[i & 1] += text[i] == 0;
    if (zeros[0] + zeros[1] == 0) return nullptr;
    // (Mostly: a character beyond Latin-1 has no zero byte.)
    const std::size_t even = (n + 1) / 2, odd = n / 2;
    if (n >= 2 && ((zeros[0] == 0 && 2 * zeros[1] >= odd) || (zeros[1] == 0 && 2 * zeros[0] >= even)))
        return "the file looks like UTF-16 text (zero bytes between the characters): save it as "
               "UTF-8 (or ASCII) to read it";
    return "not a text file";
}

Lines::Lines(std::string_view text) : text_(text), total_(text.size()) {
    if (text_.size() >= 3 && text_.compare(0, 3, "\xEF\xBB\xBF") == 0) text_.remove_prefix(3);
    for (std::size_t i = 0; i < text_.size(); ++i) {
        if (text_[i] == '\n') break;
        if (text_[i] == '\r') {
            if (i + 1 >= text_.size() || text_[i + 1] != '\n') eol_ = '\r';
            break;
        }
    }
}

bool Lines::next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const void* hit = std::memchr(text_.data() + pos_, eol_, text_.size() - pos_);
    const std::size_t end =
        hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data()) : text_.size();
    line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    ++number_;
    if (eol_ == '\n' && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    return true;
}

}  // namespace tidemark::reader
