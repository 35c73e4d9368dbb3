// The command line of tidemark-scan, callable in-process so that tests can run
// the whole host without starting a program.
#ifndef TIDEMARK_SCAN_CLI_H
#define TIDEMARK_SCAN_CLI_H

#include <cstdio>

namespace tidemark::scan {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kBadInput = 1;    // the CSV, or the chart file, could not be used
constexpr int kBadUsage = 2;    // unknown option or bad option value
constexpr int kBadLibrary = 3;  // the library could not be loaded or lacks an export

// Runs the host: argv as main receives it. The report or JSON goes to out,
// errors (one line each) and progress to err.
int run(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace tidemark::scan

#endif
