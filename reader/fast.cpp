#include "fast.h"

#include <cstdint>
#include <cstring>

#include "number.h"
#include "row.h"

namespace tidemark::reader {
namespace {

// The digit's value, or 10 and more for any other byte.
inline unsigned digit(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }

inline bool two_digits(const char* p, int& value) {
    const unsigned tens = digit(p[0]), ones = digit(p[1]);
    value = static_cast<int>(tens * 10 + ones);
    return tens < 10 && ones < 10;
}

// The reads below run over one line, whose LF stops every scan: no byte
// after it is looked at.

// A plain decimal at p: a sign, then at most kShortDigits digits with one
// point (or comma) among them, exactly the numbers parse_number reads
// without its full conversion; p past it. Anything else (an exponent, a
// thousands separator, a blank, more digits) is the stages'. (Read a byte
// at a time: prices are short, and words of eight measured slower.)
inline bool plain_number(const char*& p, char comma, double& value) {
    const char* q = p;
    const bool negative = *q == '-';
    if (*q == '-' || *q == '+') ++q;
    uint64_t digits = 0;
    unsigned d = 0;
    const char* const whole = q;
    while ((d = digit(*q)) < 10) {
        digits = digits * 10 + d;
        ++q;
    }
    long count = q - whole, decimals = 0;
    if (*q == '.' || *q == comma) {
        const char* const fraction = ++q;
        while ((d = digit(*q)) < 10) {
            digits = digits * 10 + d;
            ++q;
        }
        decimals = q - fraction;
        count += decimals;
    }
    if (count == 0 || count > kShortDigits) return false;
    value = short_decimal(digits, static_cast<int>(decimals), negative);
    p = q;
    return true;
}

// YYYY-MM-DD, then perhaps a time of day after a blank or a T, HH:MM or
// HH:MM:SS; p past it. Day and month are checked by the date reader, the
// clock here as read_written_time checks it.
inline bool plain_date(const char*& p, const char* eol, int& year, int& month, int& day, int& clock) {
    if (eol - p < 10) return false;
    int century = 0, years = 0;
    if (!two_digits(p, century) || !two_digits(p + 2, years) || p[4] != '-' || !two_digits(p + 5, month) ||
        p[7] != '-' || !two_digits(p + 8, day))
        return false;
    year = century * 100 + years;
    const char* q = p + 10;
    clock = 0;
    if (eol - q >= 6 && (*q == ' ' || *q == 'T')) {
        int hour = 0, minute = 0, second = 0;
        if (!two_digits(q + 1, hour) || q[3] != ':' || !two_digits(q + 4, minute)) return false;
        q += 6;
        if (eol - q >= 3 && *q == ':') {
            if (!two_digits(q + 1, second)) return false;
            q += 3;
        }
        if (hour > 23 || minute > 59 || second > 59) return false;
        clock = hour * 3600 + minute * 60 + second;
    }
    p = q;
    return true;
}

}  // namespace

bool FastRows::set(const Columns& columns, char separator, bool decimal_comma) {
    fields_.clear();
    // A tab file's decimal mark is told by its prices (DecimalMark): the
    // stages keep watch over every one of them.
    if ((separator != ',' && separator != ';') || decimal_comma != (separator == ';')) return false;
    if (columns.symbol >= 0 || columns.time >= 0 || columns.close_only || !columns.table.empty() ||
        columns.stamp < 0 || columns.open < 0 || columns.high < 0 || columns.low < 0 || columns.close < 0)
        return false;
    separator_ = separator;
    comma_ = decimal_comma ? ',' : '.';
    // Without a header the fields are date, open, high, low and close, and a
    // volume when there are six.
    volume_optional_ = columns.count == 0;
    fields_.assign(columns.count == 0 ? 5 : columns.count, kOtherField);
    const int at[] = {columns.open, columns.high, columns.low, columns.close, volume_optional_ ? -1 : columns.volume};
    const auto place = [&](int field, signed char what) {
        if (field < 0) return true;
        if (static_cast<std::size_t>(field) >= fields_.size()) return false;
        fields_[static_cast<std::size_t>(field)] = what;
        return true;
    };
    bool placed = place(columns.stamp, kDateField);
    for (int value = kOpen; value < kBarValues; ++value) placed = place(at[value], static_cast<signed char>(value)) && placed;
    if (!placed) fields_.clear();
    return placed;
}

bool FastRows::row(const char*& p, const char* end, DateReader& dates, Bar& bar) const {
    if (fields_.empty() || p == end) return false;
    const auto* const eol = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (eol == nullptr) return false;  // cut by the chunk's end
    double values[kBarValues] = {0, 0, 0, 0, 0};
    int year = 0, month = 0, day = 0, clock = 0;
    const char* q = p;
    const std::size_t last = fields_.size() - 1;
    for (std::size_t i = 0;; ++i) {
        const signed char what = fields_[i];
        if (what >= 0) {
            if (!plain_number(q, comma_, values[what])) return false;
        } else if (what == kDateField) {
            if (!plain_date(q, eol, year, month, day, clock)) return false;
        } else {
            // Not read, but split as the stages split it: a quote (after
            // blanks) would start a quoted field, a "#" first a comment.
            if (*q == '"' || *q == ' ' || *q == '\t' || (i == 0 && *q == '#')) return false;
            while (*q != separator_ && *q != '\n') ++q;
        }
        if (i < last) {
            if (*q++ != separator_) return false;
            continue;
        }
        if (volume_optional_ && *q == separator_) {
            ++q;
            if (!plain_number(q, comma_, values[kVolume])) return false;
        }
        break;
    }
    // The line's end: LF, or CRLF.
    if (*q == '\r') ++q;
    if (q != eol || check_bar(values)) return false;
    int64_t time = 0;
    if (!dates.read_ymd(year, month, day, clock, time)) return false;
    bar.time = time;
    set_values(bar, values);
    p = eol + 1;
    return true;
}

}  // namespace tidemark::reader
