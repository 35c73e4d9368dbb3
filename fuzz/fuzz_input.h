// Reads a fuzz input as a fixed header followed by fixed-size records. Every
// field is little-endian; a field that runs past the end of the input reads
// as zero, so any byte string is a valid input.
#ifndef TIDEMARK_FUZZ_INPUT_H
#define TIDEMARK_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz_input {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    template <class T>
    T take() {
        T value{};
        if (size_ - used_ >= sizeof value) std::memcpy(&value, data_ + used_, sizeof value);
        used_ = size_ - used_ >= sizeof value ? used_ + sizeof value : size_;
        return value;
    }

    // Whole records of record_size bytes left after the header.
    size_t records(size_t record_size) const { return (size_ - used_) / record_size; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

// A finding: say what differed, then crash so that libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "tidemark fuzz: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

inline void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

}  // namespace fuzz_input

#endif
