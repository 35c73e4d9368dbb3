// Field -> timestamp: dates and times as exports write them, and the one
// day-month order a file keeps. A field is read once into what it says (WrittenTime); the file's
// order is settled by the first date whose day is above 12, and the few
// dates read before that are put right then (DateReader).
#ifndef TIDEMARK_READER_TIMESTAMP_H
#define TIDEMARK_READER_TIMESTAMP_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "options.h"

namespace tidemark::reader {

// A bar record's time is an int32: these are the moments it can hold.
constexpr int64_t kEarliestTime = INT32_MIN;
constexpr int64_t kLatestTime = INT32_MAX;
inline bool in_record_time(int64_t seconds) { return seconds >= kEarliestTime && seconds <= kLatestTime; }

// How numeric dates whose first field is not a four-digit year are read:
// taken from the data (automatic), or as chosen with --dates. serial reads
// plain numbers as a spreadsheet's day numbers instead of epoch seconds; ms,
// us and ns read them as epoch milliseconds, microseconds or nanoseconds
// whatever their digits.
enum class DateOrder : unsigned char { automatic, ymd, mdy, dmy, serial, ms, us, ns };

// "mdy" and the like, as --dates takes them; false for anything else.
bool date_order_from_text(std::string_view text, DateOrder& order);

// The unit of an epoch time. Its digits tell it where seconds cannot be
// meant: up to 12 digits are seconds, 13 milliseconds, 16 microseconds and
// 19 nanoseconds (each from 2001-09-09 to 2286-11-20, where seconds of that
// many digits would lie beyond the year 33000); the counts between (14, 15,
// 17, 18) and beyond tell none.
enum class EpochUnit : unsigned char { none, seconds, ms, us, ns };
EpochUnit epoch_unit_of_digits(int digits);
// The unit --dates asks for (ms, us, ns), or none.
EpochUnit epoch_unit_of(DateOrder order);
const char* epoch_unit_name(EpochUnit unit);  // "epoch milliseconds"

// An epoch time, magnitude units before (negative) or after 1970 (and a
// fraction of a unit when fraction is set), as whole seconds rounded down.
// False when they lie outside a bar record's time: the range is checked on
// the unsigned count, before any conversion that could overflow.
bool epoch_to_seconds(bool negative, uint64_t magnitude, bool fraction, EpochUnit unit, int64_t& seconds);

// Epoch times in a column of numbers (a DataFrame's integers or floats), read
// as a file's date column reads them: the unit from the first value's digits
// (or from order when it is ms, us or ns), one unit for the column, each
// value within a bar record's time. The seconds go to out; on a fault, row
// is the first value at fault and what says why (the options it names
// spelled as spelling says).
struct EpochColumn {
    bool ok = true;
    std::size_t row = 0;
    std::string what;
    EpochUnit unit = EpochUnit::none;
};
EpochColumn epoch_column(const int64_t* values, std::size_t size, DateOrder order, int64_t* out,
                         const OptionSpelling& spelling = command_spelling());
// NaN and infinities are faults; fractions of a unit are rounded down, as in
// a file.
EpochColumn epoch_column(const double* values, std::size_t size, DateOrder order, int64_t* out,
                         const OptionSpelling& spelling = command_spelling());

// Years written with two digits: 69 ... 99 are 1969 ... 1999, 00 ... 68 are
// 2000 ... 2068 (the POSIX rule).
int full_year(int two_digits);

// What a date field says before the file's order is applied.
struct WrittenTime {
    enum class Kind : unsigned char {
        ymd,      // 2003-02-27, 2003/2/27, 2003.02.27, 20030227: settled
        numeric,  // 02/27/2003, 27.02.2003, 27-02-03: day and month by the file's order
        named,    // 19-Sep-03, 19 Sep 2003, Sep 19, 2003: settled
        epoch,    // seconds since 1970 (negative, or six digits and more)
        serial,   // 37679: a spreadsheet's day number, read only when asked
        // Bars of a longer period, each dated by its first day:
        week,     // 2003-W09, 2003W09 (ISO weeks, from Monday): first is the week
        month,    // 2003-02, 2003/02, Feb 2003, February 2003: first is the month
        quarter,  // 2003Q1, 2003-Q1, 2003 Q1, Q1 2003: first is the quarter's first month
    };
    Kind kind = Kind::ymd;
    int year = 0;
    int first = 0, second = 0;  // numeric: the two short fields as written; else month, day
    bool all_two_digits = false;  // numeric: 03-02-27, which --dates ymd reads year first
    int clock = 0;              // seconds after the written midnight
    int32_t offset = 0;         // seconds east of UTC, when an offset is written
    bool has_time = false;
    int64_t seconds = 0;  // serial: the day number's seconds after 1899-12-30
    // epoch: the count of units, exactly (digits of it), before 1970 when
    // negative, and whether a fraction of a unit follows.
    uint64_t magnitude = 0;
    int digits = 0;
    bool negative = false, fraction = false;
};

// Why a field is not read as a date.
enum class DateProblem : unsigned char {
    none,
    not_a_date,       // no form fits
    five_digit_year,  // 20030-02-27
    no_such_day,      // 2021-02-29, 2020-13-01, 2003-W54, 2003Q5
    bad_time,         // a date, then no time of day that fits
    month_or_epoch,   // 200302: the month 2003-02, or epoch seconds of 1970-01-03
    month_and_two,    // Aug 04: August 4th of no year, or August 2004?
};

// The period a series' bars stand for, as their dates are written: each
// dated by its first day (a week by its Monday).
enum class BarPeriod : unsigned char { written, week, month, quarter };
const char* period_name(BarPeriod period);  // "daily" for written, "weekly" ...

// A time of day alone ("10:30", "10:30:15", "4:00 PM", "103015").
bool time_of_day(std::string_view s);

// Reads one field (a date and a time are joined with a space by the caller
// when they are two columns). Day and month of a numeric date are not
// checked here: the order decides which is which.
DateProblem read_written_time(std::string_view s, WrittenTime& w);

// Seconds since 1970 of the written date and time, as if written in UTC
// (the offset not applied), in the given order; false when that day does
// not exist. automatic reads numeric dates month first.
bool local_seconds(const WrittenTime& w, DateOrder order, int64_t& seconds);

// Why a field was refused, as one line for the user: which form was
// expected and what would make the field readable. text is the field.
// chosen: the order was given by the user rather than read from the file.
// The options it suggests are spelled as the caller spells them.
std::string date_problem_text(std::string_view text, DateProblem problem, const WrittenTime& w, DateOrder order,
                              bool chosen = false, const OptionSpelling& spelling = command_spelling());

// A bound of a window of bars (as --from and --to take it), in any form a
// file's date takes: a numeric date in the given order, or when automatic
// only if a day above 12 (or the same day and month) tells it. As the end
// of a window (end), a date alone takes in its whole day, a week, month or
// quarter its whole period. False with why set (naming the options in
// spelling) when the text is no such bound.
bool parse_bound(std::string_view text, DateOrder order, bool end, int64_t& seconds, std::string& why,
                 const OptionSpelling& spelling = command_spelling());

// One timestamp alone, read as parse_bound reads the start of a window;
// has_time tells whether a time of day was written. False when the text is
// not a timestamp.
bool parse_timestamp(std::string_view text, int64_t& seconds, bool& has_time,
                     DateOrder order = DateOrder::automatic);

// 'date "FIELD" is not a date (the accepted forms)'.
std::string not_a_date(std::string_view field);

// 'date SHOWN is outside ... (int32 seconds since 1970)', with a hint at
// epoch milliseconds (and the option that reads them) when digits say so.
std::string outside_time_range(const std::string& shown_date, bool looks_like_milliseconds,
                               const OptionSpelling& spelling = command_spelling());

// Reads the date column of one file: the form is taken from the first date,
// the day-month order from the first date that settles it (or the option),
// and both must then hold for every row. Times are UTC seconds; a file
// whose every bar is stamped at local midnight keeps the written dates,
// whatever offset is written beside them (corrections() after the last row).
class DateReader {
public:
    explicit DateReader(DateOrder option, const OptionSpelling& spelling = command_spelling())
        : option_(option), order_(option), spelling_(&spelling) {}

    // Reads field, the date of the next bar (line for messages), into time:
    // UTC seconds, or for a numeric date before the order is settled, as if
    // month first. False with why set (the message, without file and line).
    bool read(std::string_view field, long line, int64_t& time, std::string& why);

    // The date of the next bar when it is already known to be written
    // YYYY-MM-DD with a time of day (clock: seconds after midnight, 0 when
    // none) and no offset, as the fast rows read it: the same time and state
    // as read() of the field. False, with nothing changed, when the file's
    // dates are not of that form, the day does not exist or the moment lies
    // outside a bar record's time: read() then says why.
    // Inline: every row of a file of such dates passes here.
    bool read_ymd(int year, int month, int day, int clock, int64_t& time) {
        // Nothing to settle: the form is known, and such a date has no
        // order. Bars come month after month: the month's length and first
        // day are kept (month_ is only ever set for a file of such dates),
        // and a day of it is that day's offset from the first.
        if ((year != month_.year || month != month_.month) && !enter_month(year, month)) return false;
        if (day < 1 || day > month_.days) return false;
        const int64_t seconds = month_.first + static_cast<int64_t>(day - 1) * 86400 + clock;
        if (!in_record_time(seconds)) return false;
        time = seconds;
        all_midnight_ = all_midnight_ && clock == 0;
        if (offsets_) offset_of_.push_back(0);
        ++count_;
        return true;
    }

    // After the last row: false with line and why set when the order was
    // never settled and the dates read differently in the two orders.
    bool finish(long& line, std::string& why);

    // Then calls add(i, seconds) for each date i (in reading order) whose
    // time must move: numeric dates read before the order was settled, and
    // every date of a file stamped at local midnights with an offset.
    template <typename Add>
    void corrections(Add&& add) const;

    DateOrder option() const { return option_; }
    // The period the file's dates stand for, once the first is read.
    BarPeriod period() const;

private:
    struct Pending;
    bool settle(DateOrder order, std::string_view field, long line, std::string& why);
    bool settle_unit(const WrittenTime& w, std::string_view field, std::string& why);
    static int64_t pending_shift(const Pending& p);

    DateOrder option_, order_;
    const OptionSpelling* spelling_;
    bool started_ = false;
    WrittenTime::Kind kind_ = WrittenTime::Kind::ymd;
    EpochUnit unit_ = EpochUnit::none;  // of an epoch file
    std::string first_text_;  // the first date, for messages
    long first_line_ = 0;
    std::size_t count_ = 0;   // dates read
    // Numeric dates read before the order was known, read month first.
    struct Pending {
        std::size_t index;
        long line;
        int year, first, second;
    };
    std::vector<Pending> pending_;
    std::string ambiguous_text_;  // the first date read before the order was settled
    std::string settled_text_;    // the date that settled the order
    long settled_line_ = 0;
    // Offsets, kept once one is not zero, so that local midnights can be
    // given back their written date.
    bool offsets_ = false;
    bool all_midnight_ = true;
    std::vector<int32_t> offset_of_;
    bool enter_month(int year, int month);  // false when the dates are not YYYY-MM-DD, or no such month
    // The month of the last date read_ymd() took.
    struct Month {
        int year = 0, month = 0, days = 0;
        int64_t first = 0;  // its first day's midnight
    } month_;
};

template <typename Add>
void DateReader::corrections(Add&& add) const {
    if (order_ == DateOrder::dmy) {
        for (const Pending& p : pending_) add(p.index, pending_shift(p));
    }
    if (offsets_ && all_midnight_) {
        for (std::size_t i = 0; i < offset_of_.size(); ++i)
            if (offset_of_[i] != 0) add(i, int64_t{offset_of_[i]});
    }
}

}  // namespace tidemark::reader

#endif
