// A screen: many files read and analysed at once, on all cores.
#ifndef TIDEMARK_SCAN_SCREEN_H
#define TIDEMARK_SCAN_SCREEN_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "analysis.h"
#include "bars.h"
#include "loader.h"
#include "report.h"

namespace tidemark::scan {

// Called on the calling thread now and then with the files done so far.
using ScreenProgress = std::function<void(std::size_t done, std::size_t total)>;

// One entry per file, in screen order (see screen_order; the files that
// failed last, by name). A file that cannot be read or analysed is an entry
// with its error; the others go on. A table of closes (a symbol per column)
// gives an entry per symbol, unless read.symbol chooses one.
std::vector<ScreenEntry> run_screen(const loader::Exports& lib, const std::vector<std::string>& files,
                                    const Settings& settings, const Window& window, const ReadOptions& read,
                                    const ScreenProgress& progress = nullptr);

}  // namespace tidemark::scan

#endif
