// gzip-compressed bytes (a .csv.gz download), inflated a chunk at a time.
#include <zlib.h>

#include <climits>
#include <string>

#include "bytes.h"

namespace tidemark::reader {
namespace {

class GzipSource : public Source {
public:
    explicit GzipSource(std::unique_ptr<Source> compressed) : in_(std::move(compressed)) {
        // 16 + the largest window: gzip's header and trailer, and nothing else.
        ready_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;
    }
    ~GzipSource() override {
        if (ready_) inflateEnd(&z_);
    }
    // zlib's stream points into itself: it stays where it was made.
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;
    GzipSource(GzipSource&&) = delete;
    GzipSource& operator=(GzipSource&&) = delete;

    Got next(std::string_view& chunk, std::string& why) override {
        if (ended_) return Got::end;
        if (!ready_) return fail("cannot read: not enough memory to inflate the gzip data", why);
        constexpr std::size_t kChunk = 1u << 20;
        out_.resize(kChunk);
        z_.next_out = reinterpret_cast<Bytef*>(out_.data());
        z_.avail_out = static_cast<uInt>(kChunk);
        while (z_.avail_out == kChunk) {
            if (z_.avail_in == 0) {
                std::string_view in;
                const Got got = in_->next(in, why);
                if (got == Got::error) return fail(why, why);
                if (got == Got::end) {
                    ended_ = true;
                    // A member cut short, or nothing after the magic bytes.
                    if (!member_done_) return fail("cannot read: the gzip data ends early (the file is cut short)", why);
                    return Got::end;
                }
                // Chunks are at most a few megabytes; uInt holds them.
                z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
                z_.avail_in = static_cast<uInt>(in.size() < UINT_MAX ? in.size() : UINT_MAX);
            }
            if (member_done_) {
                // Another member follows (gzip files may be concatenated).
                if (inflateReset(&z_) != Z_OK) return fail("cannot read: the gzip data is damaged", why);
                member_done_ = false;
            }
            const int result = inflate(&z_, Z_NO_FLUSH);
            if (result == Z_STREAM_END) {
                member_done_ = true;
            } else if (result != Z_OK && result != Z_BUF_ERROR) {
                return fail(std::string("cannot read: the gzip data is damaged (") +
                                (z_.msg != nullptr ? z_.msg : "inflate failed") + ")",
                            why);
            }
        }
        chunk = std::string_view(out_.data(), kChunk - z_.avail_out);
        return Got::chunk;
    }
    std::uint64_t position() const override { return in_->position(); }
    std::uint64_t size() const override { return in_->size(); }

private:
    Got fail(const std::string& what, std::string& why) {
        ended_ = true;
        why = what;
        return Got::error;
    }

    std::unique_ptr<Source> in_;
    z_stream z_{};
    bool ready_ = false;
    bool ended_ = false;
    bool member_done_ = false;
    std::string out_;
};

}  // namespace

std::unique_ptr<Source> gunzip(std::unique_ptr<Source> compressed) {
    return std::make_unique<GzipSource>(std::move(compressed));
}

}  // namespace tidemark::reader
