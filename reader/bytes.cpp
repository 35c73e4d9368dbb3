#include "bytes.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "text.h"

namespace tidemark::reader {
namespace {

// The bytes that tell what a file is.
constexpr std::size_t kSniffed = 4096;

bool starts(std::string_view bytes, std::string_view with) { return bytes.compare(0, with.size(), with) == 0; }

// Replays the head already read from a source (a view of its first chunk,
// or the first chunks gathered), then the rest of it. owner, when given, is
// the rest itself, kept alive here.
class Replay : public Source {
public:
    Replay(Source& rest, std::unique_ptr<Source> owner, std::string_view head, std::string gathered)
        : rest_(rest), owner_(std::move(owner)), owned_(std::move(gathered)), head_(head) {
        if (!owned_.empty()) head_ = owned_;
    }
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
    std::unique_ptr<Source> owner_;
    std::string owned_;
    std::string_view head_;
};

// UTF-16 code units, in either byte order, as UTF-8.
class Utf16Source : public Source {
public:
    Utf16Source(std::unique_ptr<Source> in, bool little_endian) : in_(std::move(in)), little_(little_endian) {}
    Got next(std::string_view& chunk, std::string& why) override {
        for (;;) {
            if (ended_) return Got::end;
            out_.clear();
            std::string_view in;
            const Got got = in_->next(in, why);
            if (got == Got::error) return got;
            if (got == Got::end) {
                ended_ = true;
                // An odd byte or a high surrogate with nothing after it.
                if (has_odd_ || high_ != 0) append(0xFFFD);
            } else {
                out_.reserve(in.size() * 3 / 2 + 4);
                // cppcheck-suppress knownEmptyContainer ; next() filled it
                for (const char c : in) {
                    const auto b = static_cast<unsigned char>(c);
                    if (!has_odd_) {
                        odd_ = b;
                        has_odd_ = true;
                        continue;
                    }
                    has_odd_ = false;
                    unit(little_ ? static_cast<uint32_t>(odd_ | b << 8) : static_cast<uint32_t>(odd_ << 8 | b));
                }
            }
            if (!out_.empty()) {
                chunk = out_;
                return Got::chunk;
            }
        }
    }
    std::uint64_t position() const override { return in_->position(); }
    std::uint64_t size() const override { return in_->size(); }

private:
    void unit(uint32_t u) {
        if (high_ != 0) {
            const uint32_t high = high_;
            high_ = 0;
            if (u >= 0xDC00 && u <= 0xDFFF) {
                append(0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
                return;
            }
            append(0xFFFD);
        }
        if (u >= 0xD800 && u <= 0xDBFF) high_ = u;
        else append(u >= 0xDC00 && u <= 0xDFFF ? 0xFFFD : u);
    }
    void append(uint32_t cp) { append_utf8(out_, cp); }

    std::unique_ptr<Source> in_;
    bool little_;
    bool ended_ = false;
    bool has_odd_ = false;
    unsigned char odd_ = 0;
    uint32_t high_ = 0;
    std::string out_;
};

// The first bytes of a source: its first chunk when that is long enough (no
// copy), else the first chunks gathered.
struct Head {
    std::string_view bytes;
    std::string gathered;
};

bool read_head(Source& source, Head& head, std::string& why) {
    std::string_view chunk;
    Source::Got got = source.next(chunk, why);
    if (got == Source::Got::error) return false;
    if (got == Source::Got::end) return true;
    if (chunk.size() >= kSniffed) {
        head.bytes = chunk;
        return true;
    }
    head.gathered.assign(chunk.data(), chunk.size());
    while (head.gathered.size() < kSniffed) {
        got = source.next(chunk, why);
        if (got == Source::Got::error) return false;
        if (got == Source::Got::end) break;
        head.gathered.append(chunk.data(), chunk.size());
    }
    head.bytes = head.gathered;
    return true;
}

// The source from its head on, the first skip bytes left out.
std::unique_ptr<Source> replay(Source& source, std::unique_ptr<Source> owner, Head& head, std::size_t skip) {
    if (!head.gathered.empty()) {
        head.gathered.erase(0, skip);
        return std::make_unique<Replay>(source, std::move(owner), std::string_view(), std::move(head.gathered));
    }
    return std::make_unique<Replay>(source, std::move(owner), head.bytes.substr(std::min(skip, head.bytes.size())),
                                    std::string());
}

// Text from a source whose head has been read (not gzip data).
std::unique_ptr<Source> decoded(Source& source, std::unique_ptr<Source> owner, Head& head, std::string& why) {
    const bool little = starts(head.bytes, "\xFF\xFE"), big = starts(head.bytes, "\xFE\xFF");
    if (little || big) return std::make_unique<Utf16Source>(replay(source, std::move(owner), head, 2), little);
    if (const char* fault = encoding_fault(head.bytes)) {
        why = fault;
        return nullptr;
    }
    return replay(source, std::move(owner), head, starts(head.bytes, "\xEF\xBB\xBF") ? 3 : 0);
}

}  // namespace

Source::Got MemorySource::next(std::string_view& chunk, std::string&) {
    if (pos_ >= bytes_.size()) return Got::end;
    chunk = bytes_.substr(pos_, chunk_size_);
    pos_ += chunk.size();
    return Got::chunk;
}

const char* encoding_fault(std::string_view head) {
    // UTF-16 with a byte-order mark is text (text_of turns it into UTF-8).
    if (starts(head, "\xFF\xFE") || starts(head, "\xFE\xFF")) return nullptr;
    // Text holds no zero bytes. UTF-16 without a mark has them in every other
    // byte, and none in the bytes between; anything else with zero
    // bytes (a file of them, an image, an archive) is no text at all.
    const std::size_t n = std::min<std::size_t>(head.size(), kSniffed);
    if (n == 0 || std::memchr(head.data(), 0, n) == nullptr) return nullptr;  // the usual case, quickly
    std::size_t zeros[2] = {0, 0};
    for (std::size_t i = 0; i < n; ++i) zeros[i & 1] += head[i] == 0;
    if (zeros[0] + zeros[1] == 0) return nullptr;
    // (Mostly: a character beyond Latin-1 has no zero byte.)
    const std::size_t even = (n + 1) / 2, odd = n / 2;
    if (n >= 2 && ((zeros[0] == 0 && 2 * zeros[1] >= odd) || (zeros[1] == 0 && 2 * zeros[0] >= even)))
        return "the file looks like UTF-16 text (zero bytes between the characters): save it as "
               "UTF-8 (or ASCII) to read it";
    return "not a text file";
}

std::unique_ptr<Source> text_of(Source& raw, std::string& why, bool* gzip) {
    Head head;
    if (!read_head(raw, head, why)) return nullptr;
    const bool compressed = starts(head.bytes, "\x1F\x8B");
    if (gzip != nullptr) *gzip = compressed;
    if (!compressed) return decoded(raw, nullptr, head, why);
    // gzip data: what it holds is told from its own first bytes.
    std::unique_ptr<Source> inflated = gunzip(replay(raw, nullptr, head, 0));
    Head inner;
    if (!read_head(*inflated, inner, why)) return nullptr;
    Source& plain = *inflated;
    return decoded(plain, std::move(inflated), inner, why);
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

void Lines::drop_returned_carry() {
    if (!carry_returned_) return;
    carry_.clear();
    carry_returned_ = false;
}

std::string_view Lines::rest() {
    if (eol_ != '\n') return std::string_view();
    drop_returned_carry();
    if (!carry_.empty() || (pos_ == chunk_.size() && !pull())) return std::string_view();
    return chunk_.substr(pos_);
}

bool Lines::settle_eol(const char* data, std::size_t left) {
    const char* const stop = data + left;
    const char* const end = std::find_if(data, stop, [](char c) { return c == '\n' || c == '\r'; });
    if (end == stop) return true;  // no line end yet
    if (*end == '\n') {
        eol_ = '\n';
    } else {
        if (end + 1 == stop) return false;
        eol_ = end[1] == '\n' ? '\n' : '\r';
    }
    return true;
}

bool Lines::next(std::string_view& line) {
    drop_returned_carry();
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
            if (eol_ == 0 && !settle_eol(data, left)) {
                // A CR ends the chunk: the next byte tells.
                if (!keep(data, left - 1)) return false;
                pos_ = chunk_.size();
                const bool more = pull();
                eol_ = more && chunk_[0] == '\n' ? '\n' : '\r';
                if (more && eol_ == '\n') pos_ = 1;
                if (failed_) return false;
                return finish(std::string_view());
            }
            const void* const hit = eol_ == 0 ? nullptr : std::memchr(data, eol_, left);
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
