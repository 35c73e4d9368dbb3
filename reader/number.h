// Field -> number: a price or a volume as written in a file.
#ifndef TIDEMARK_READER_NUMBER_H
#define TIDEMARK_READER_NUMBER_H

#include <string_view>

namespace tidemark::reader {

// A plain decimal number, read as strtod reads it, but without strtod's
// leading blanks, hexadecimal, "nan" and "inf"; an overflow is refused, an
// underflow is the subnormal or 0 strtod gives. With decimal_comma, one ","
// stands for the point (and a field with both is refused).
bool parse_number(std::string_view s, bool decimal_comma, double& value);

}  // namespace tidemark::reader

#endif
