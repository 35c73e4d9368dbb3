// The bundled sample, compiled into the host so that it works wherever the
// program is moved or installed.
#ifndef TIDEMARK_SCAN_SAMPLE_H
#define TIDEMARK_SCAN_SAMPLE_H

#include <string_view>

namespace tidemark::scan {

// "data/daily-bars.csv", the name it has in the source tree.
extern const char* const kSampleName;
std::string_view sample_text();

}  // namespace tidemark::scan

#endif
