#include "bytes.h"

#include <algorithm>
#include <cstring>

namespace tidemark::reader {
namespace {

// The bytes that tell what a file is.
constexpr std::size_t kSniffed = 4096;

// Replays the head already read from a source (a view of its first chunk,
// or the first chunks gathered), then the rest of it.
class Replay : public Source {
public:
    Replay(Source& rest, std::string_view head) : rest_(rest), head_(head) {}
    Replay(Source& rest, std::string gathered) : rest_(rest), owned_(std::move(gathered)), head_(owned_) {}
    Got next(std::string_view& chunk, std::string& why) override {
        if (!head_.empty()) {
            chunk = head_;
            head_ = std::string_view();
            return Got::chunk;
        }
        return rest_.next(chunk, why);
    }
    std::uint64_t position() const override { return rest_.position(); }
    std::uint64_t size() const override { return rest_.size(); }

private:
    Source& rest_;
    std::string owned_;
    std::string_view head_;
};

}  // namespace

Source::Got MemorySource::next(std::string_view& chunk, std::string&) {
    if (pos_ >= bytes_.size()) return Got::end;
    chunk = bytes_.substr(pos_, chunk_size_);
    pos_ += chunk.size();
    return Got::chunk;
}

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

std::unique_ptr<Source> text_of(Source& raw, std::string& why) {
    // The head: the first chunk when it is long enough (no copy), else the
    // first chunks gathered.
    std::string_view chunk;
    Source::Got got = raw.next(chunk, why);
    if (got == Source::Got::error) return nullptr;
    const bool short_head = got == Source::Got::chunk && chunk.size() < kSniffed;
    std::string gathered;
    if (short_head) {
        gathered.assign(chunk.data(), chunk.size());
        while (gathered.size() < kSniffed) {
            got = raw.next(chunk, why);
            if (got == Source::Got::error) return nullptr;
            if (got == Source::Got::end) break;
            gathered.append(chunk.data(), chunk.size());
        }
    }
    std::string_view head = short_head ? std::string_view(gathered) : got == Source::Got::chunk ? chunk
                                                                                               : std::string_view();
    if (const char* fault = encoding_fault(head)) {
        why = fault;
        return nullptr;
    }
    const bool mark = head.size() >= 3 && head.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (short_head) {
        if (mark) gathered.erase(0, 3);
        return std::make_unique<Replay>(raw, std::move(gathered));
    }
    if (mark) head.remove_prefix(3);
    return std::make_unique<Replay>(raw, head);
}

bool Lines::pull() {
    if (ended_ || failed_) return false;
    switch (source_.next(chunk_, why_)) {
        case Source::Got::chunk:
            pos_ = 0;
            return true;
        case Source::Got::error:
            failed_ = true;
            break;
        case Source::Got::end:
            break;
    }
    ended_ = true;
    chunk_ = std::string_view();
    pos_ = 0;
    return false;
}

bool Lines::keep(const char* data, std::size_t size) {
    if (carry_.size() + size > kLongest) {
        failed_ = true;
        failed_line_ = number_ + 1;
        why_ = "a line longer than 1 MiB: not a file of bars";
        return false;
    }
    carry_.append(data, size);
    return true;
}

bool Lines::next(std::string_view& line) {
    if (carry_returned_) {
        carry_.clear();
        carry_returned_ = false;
    }
    const auto finish = [&](std::string_view part) {
        if (carry_.empty()) {
            line = part;
        } else {
            carry_.append(part.data(), part.size());
            line = carry_;
            carry_returned_ = true;
        }
        if (eol_ == '\n' && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number_;
        return true;
    };
    for (;;) {
        if (pos_ < chunk_.size()) {
            const char* data = chunk_.data() + pos_;
            const std::size_t left = chunk_.size() - pos_;
            const void* hit = nullptr;
            if (eol_ != 0) {
                hit = std::memchr(data, eol_, left);
            } else {
                // The first line end tells which ends the file uses.
                const char* end = std::find_if(data, data + left, [](char c) { return c == '\n' || c == '\r'; });
                if (end != data + left) {
                    if (*end == '\n') {
                        eol_ = '\n';
                    } else if (end + 1 < data + left) {
                        eol_ = end[1] == '\n' ? '\n' : '\r';
                        if (eol_ == '\n') ++end;
                    } else {
                        // A CR ends the chunk: the next byte tells.
                        if (!keep(data, left - 1)) return false;
                        pos_ = chunk_.size();
                        const bool more = pull();
                        eol_ = more && chunk_[0] == '\n' ? '\n' : '\r';
                        if (more && eol_ == '\n') pos_ = 1;
                        if (failed_) return false;
                        return finish(std::string_view());
                    }
                    hit = end;
                }
            }
            if (hit != nullptr) {
                const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
                if (carry_.size() + at > kLongest) return keep(data, at);
                pos_ += at + 1;
                return finish(std::string_view(data, at));
            }
            if (!keep(data, left)) return false;
            pos_ = chunk_.size();
        }
        if (!pull()) {
            if (failed_ || carry_.empty()) return false;
            return finish(std::string_view());
        }
    }
}

}  // namespace tidemark::reader
