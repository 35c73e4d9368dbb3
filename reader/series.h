// Series checks: the order of a series' times and whether it is intraday,
// on plain arrays, so that every front end's bars pass the same checks.
#ifndef TIDEMARK_READER_SERIES_H
#define TIDEMARK_READER_SERIES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace tidemark::reader {

// The times of a series, wherever they are held: stride bytes apart (an
// int64 array, or the time member of an array of bars).
class Times {
public:
    Times(const int64_t* first, std::size_t size, std::size_t stride = sizeof(int64_t))
        : first_(reinterpret_cast<const unsigned char*>(first)), size_(size), stride_(stride) {}
    std::size_t size() const { return size_; }
    int64_t operator[](std::size_t i) const {
        int64_t t;
        std::memcpy(&t, first_ + i * stride_, sizeof t);
        return t;
    }

private:
    const unsigned char* first_;
    std::size_t size_;
    std::size_t stride_;
};

// A series runs oldest or newest first, told by its first and last times (so
// that one bar out of place is blamed on its own row), strictly: one bar per
// time.
struct OrderCheck {
    bool newest_first = false;
    bool ok = true;
    std::size_t index = 0;  // when not ok: the first bar out of place (after index - 1)
    explicit operator bool() const { return !ok; }
};
OrderCheck check_order(const Times& times);

// The message of an order fault, the same wherever the bars come from (the
// place of the bar at fault goes before it).
std::string order_fault_text(const Times& times, const OrderCheck& check);

// Some time is not midnight UTC: the series has times of day.
bool intraday(const Times& times);

}  // namespace tidemark::reader

#endif
