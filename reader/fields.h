// Lines -> fields: the separator of a file and the fields of each line.
#ifndef TIDEMARK_READER_FIELDS_H
#define TIDEMARK_READER_FIELDS_H

#include <cstddef>
#include <string_view>

namespace tidemark::reader {

// The most frequent of tab, ";" and "," outside quotes on a line; on a tie
// the first of them in that order; "," when there is none.
char detect_separator(std::string_view line);

// The fields of one line, as views into it. Pointers and lengths apart in a
// fixed array: a vector of string_views cost a quarter of the reading time
// (its stores and reloads stalled).
class Fields {
public:
    static constexpr std::size_t kMost = 256;
    std::size_t size() const { return count_; }
    std::string_view operator[](std::size_t i) const { return std::string_view(begin_[i], length_[i]); }
    void clear() { count_ = 0; }
    bool add(std::string_view field) {
        if (count_ == kMost) return false;
        begin_[count_] = field.data();
        length_[count_] = field.size();
        ++count_;
        return true;
    }

private:
    // Left unset on purpose: only the first count_ are ever read.
    // cppcheck-suppress uninitMemberVarPrivate
    const char* begin_[kMost];
    // cppcheck-suppress uninitMemberVarPrivate
    std::size_t length_[kMost];
    std::size_t count_ = 0;
};

// Splits a line into fields without copying; blanks around a field (and a
// tab unless it separates) are not part of it. A quoted field loses its
// quotes (a doubled quote inside stays doubled: no date or number holds one).
// Returns null, or what is wrong with the line.
const char* split(std::string_view line, char separator, Fields& fields);

}  // namespace tidemark::reader

#endif
