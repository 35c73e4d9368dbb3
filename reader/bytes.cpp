#include "bytes.h"

#include <cstring>

namespace tidemark::reader {

const char* encoding_fault(std::string_view text) {
    const auto u8 = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 256u; };
    if ((u8(0) == 0xFF && u8(1) == 0xFE) || (u8(0) == 0xFE && u8(1) == 0xFF))
        return "the file is UTF-16 text: save it as UTF-8 (or ASCII) to read it";
    if (text.size() >= 2 && (u8(0) == 0 || u8(1) == 0))
        return "the file looks like UTF-16 text (zero bytes between the characters): save it as "
               "UTF-8 (or ASCII) to read it";
    return nullptr;
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
