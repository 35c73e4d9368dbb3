// Field -> number: prices and volumes as exports write them. Plain numbers take a fast path;
// only a field it cannot read is normalised (currency symbols, thousands
// separators, volume suffixes), so that the common file pays nothing more.
#ifndef TIDEMARK_READER_NUMBER_H
#define TIDEMARK_READER_NUMBER_H

#include <string>
#include <string_view>

namespace tidemark::reader {

// A plain decimal number, read as strtod reads it, but without strtod's
// leading blanks, hexadecimal, "nan" and "inf"; an overflow is refused, an
// underflow is the subnormal or 0 strtod gives. With decimal_comma, one ","
// stands for the point (and a field with both is refused).
bool parse_number(std::string_view s, bool decimal_comma, double& value);

// A price: a decimal number read exactly as strtod reads it (no hexadecimal,
// "nan" or "inf"), finite. Also, each normalised to the plain number first:
// - a currency sign before or after it ($77.28, -$1.5, 77.28 €, £, ¥);
// - thousands separators in groups of three: "," (or a space) before the
//   point; with decimal_comma (";" files) "." or a space before the comma.
// With decimal_comma one "," stands for the point. Anything else is false.
// The plain number is tried first, inline: the rest only for what it refuses.
bool normalised_price(std::string_view text, bool decimal_comma, double& value);
inline bool parse_price(std::string_view text, bool decimal_comma, double& value) {
    return parse_number(text, decimal_comma, value) || normalised_price(text, decimal_comma, value);
}

// A volume: a price without a currency sign, or with a K, M or B suffix
// (9.93M is 9930000, read as its digits say, not by a multiplication that
// could round). False when it is none of these: the caller keeps the bar
// and counts the volume as unknown.
bool normalised_volume(std::string_view text, bool decimal_comma, double& value);
inline bool parse_volume(std::string_view text, bool decimal_comma, double& value) {
    return parse_number(text, decimal_comma, value) || normalised_volume(text, decimal_comma, value);
}

// A field that stands for no value: empty, "null", "n/a", "na", "-", "--",
// "none", "nan" or "." in any case, or a spreadsheet's error ("#N/A",
// "#VALUE!", "#DIV/0!", "#REF!", "#NUM!", "#NAME?", "#NULL!"). A row whose
// prices are all missing is a portal's placeholder for a day without
// trading.
bool missing_value(std::string_view text);

// The decimal mark of a file whose separator leaves it open (tab): the
// point, as in a "," file, until a price shows a comma that no thousands
// separator can be ("12,5", "0,125", "1.234,5") while no price has shown a
// point and none has been read as grouped ("1,234"); from then on the comma.
// A price that then shows a lone point ("12.5"), or a decimal comma after a
// point or a grouping was read, is refused with why: the two readings give
// other prices. A ";" file always writes its decimals with a comma, a ","
// file with the point.
class DecimalMark {
public:
    DecimalMark(bool open, bool comma) : open_(open), comma_(comma) {}
    bool comma() const { return comma_; }
    bool open() const { return open_; }
    // Looks at a price's field before it is read (name: "open" ...). Inline:
    // a file whose separator settles the mark pays nothing more.
    bool check(std::string_view field, const char* name, long line, std::string& why) {
        return !open_ || check_open(field, name, line, why);
    }

private:
    bool check_open(std::string_view field, const char* name, long line, std::string& why);
    bool open_;
    bool comma_;
    long point_line_ = 0, grouped_line_ = 0, comma_line_ = 0;
    std::string point_text_, grouped_text_, comma_text_;
};

}  // namespace tidemark::reader

#endif
