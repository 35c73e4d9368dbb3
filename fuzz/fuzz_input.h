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

#include "host_environment.h"

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

// The floating-point environment of the host that this input runs in: a row
// of the host environment table, or the default, drawn by a hash of the
// whole input, so that every input has one and any change may change it.
inline const host_environment::Environment& host_for(const uint8_t* data, size_t size) {
    static constexpr host_environment::Environment kDefault{"default", host_environment::kDefaultMxcsr,
                                                            host_environment::kDefaultX87};
    uint32_t hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    const size_t row = hash % (host_environment::kRows + 1);
    return row == host_environment::kRows ? kDefault : host_environment::kTable[row];
}

// Makes one call as that host would; a finding when the host's environment
// does not come back exactly as it was (a trap ends the run by itself).
template <class Call>
void as_host(const host_environment::Environment& host, Call&& call) {
    const host_environment::Seen seen = host_environment::call_in(host, call);
    if (seen.kept()) return;
    char text[200];
    std::snprintf(text, sizeof text, "%s: ", host.what);
    const size_t used = std::strlen(text);
    host_environment::describe(seen, text + used, sizeof text - used);
    fail(text);
}

}  // namespace fuzz_input

#endif
