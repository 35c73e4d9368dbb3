// Price bars laid out as a host lays them out: packed 44-byte records back to
// back, starting a chosen number of bytes past an 8-aligned address, so that
// the doubles of every other record are misaligned. Fields are written as
// bytes, never through a misaligned lvalue.
#ifndef TIDEMARK_TESTS_BAR_BUFFER_H
#define TIDEMARK_TESTS_BAR_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tidemark.h"

class BarBuffer {
public:
    static constexpr std::size_t kRecord = 44;

    // count records, the first one `misalign` bytes past the start of a
    // fresh allocation (operator new aligns to at least 8). The allocation
    // ends exactly at the last record, so a sanitizer catches a read past
    // either end. Every byte starts as 0xA5: a field the library must not
    // read holds garbage, not a zero.
    explicit BarBuffer(std::size_t count, std::size_t misalign = 4)
        : count_(count), start_(misalign), storage_(misalign + count * kRecord, 0xA5) {}

    void set_time(std::size_t i, int32_t value) { put(i, offsetof(BarRecord, time), &value, sizeof value); }
    void set_low(std::size_t i, double value) { put(i, offsetof(BarRecord, low), &value, sizeof value); }
    void set_high(std::size_t i, double value) { put(i, offsetof(BarRecord, high), &value, sizeof value); }

    const BarRecord* data() const { return reinterpret_cast<const BarRecord*>(storage_.data() + start_); }
    std::size_t size() const { return count_; }
    uintptr_t address() const { return reinterpret_cast<uintptr_t>(storage_.data() + start_); }

private:
    void put(std::size_t i, std::size_t offset, const void* value, std::size_t size) {
        std::memcpy(storage_.data() + start_ + i * kRecord + offset, value, size);
    }

    std::size_t count_;
    std::size_t start_;
    std::vector<unsigned char> storage_;
};

#endif
