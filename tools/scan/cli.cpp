#include "cli.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <io.h>
#define TM_ISATTY _isatty
#define TM_FILENO _fileno
#else
#include <unistd.h>
#define TM_ISATTY isatty
#define TM_FILENO fileno
#endif

#include "analysis.h"
#include "bars.h"
#include "loader.h"
#include "report.h"

#ifndef TIDEMARK_SAMPLE
#define TIDEMARK_SAMPLE "data/daily-bars.csv"
#endif

namespace tidemark::scan {
namespace {

const char* const kUsage =
    "usage: tidemark-scan [options] [FILE.csv]\n"
    "Finds price levels in a CSV of bars with the tidemark library, loaded as a charting\n"
    "host loads it: fractals of every bar, merged into weighted levels, and the last close\n"
    "tested against them.\n"
    "\n"
    "  FILE.csv        columns date or date-time, open, high, low, close, optional volume;\n"
    "                  oldest first; header optional (default: the bundled sample,\n"
    "                  " TIDEMARK_SAMPLE ")\n"
    "  --depth N       fractal depth: neighbours examined on each side (default 2)\n"
    "  --tolerance X   price distance that merges levels and matches the close\n"
    "                  (default 0.5 x the mean bar range)\n"
    "  --mode M        merge mode: 0 heavier level wins, 1 weights add, 2 weights add and\n"
    "                  the price becomes the weighted mean (default 1)\n"
    "  --span N        span for rescaling the level weights (default 11)\n"
    "  --json          print JSON instead of the report\n"
    "  --svg FILE      also draw the chart as SVG into FILE\n"
    "  --library PATH  the library to load (default: $TIDEMARK_LIBRARY, else the\n"
    "                  library beside this program)\n"
    "  -h, --help      print this help\n"
    "\n"
    "Exit status: 0 done, 1 bad input file or chart file, 2 bad usage, 3 library unusable.\n";

bool to_int(const char* text, long low, long high, int32_t& value) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || v < low || v > high) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool to_price(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return *text != '\0' && *end == '\0' && std::isfinite(value) && value >= 0;
}

// Progress on a terminal only, and only for inputs long enough to need it.
class ProgressLine {
public:
    ProgressLine(std::FILE* err, bool wanted) : err_(err), on_(wanted) {}
    ~ProgressLine() { finish(); }
    void operator()(const char* stage, double done) {
        if (!on_) return;
        std::fprintf(err_, "\rtidemark-scan: %-9s %3d%%", stage, static_cast<int>(done * 100));
        std::fflush(err_);
        shown_ = true;
    }
    void finish() {
        if (!shown_) return;
        std::fprintf(err_, "\r%40s\r", "");
        std::fflush(err_);
        shown_ = false;
    }

private:
    std::FILE* err_;
    bool on_;
    bool shown_ = false;
};

// Inputs at least this large get progress on a terminal: about 100,000 bars.
constexpr long kLongInput = 4L << 20;

long file_size(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return 0;
    long size = 0;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    std::fclose(f);
    return size;
}

}  // namespace

int run(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    Settings settings;
    std::string input, svg, library_path;
    bool json = false;
    const auto usage_error = [&](const std::string& what) {
        std::fprintf(err, "tidemark-scan: %s (try --help)\n", what.c_str());
        return kBadUsage;
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool has_value = false;
        const auto eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            has_value = true;
        }
        const auto take = [&]() -> bool {
            if (has_value) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, out);
            return kOk;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--depth") {
            if (!take() || !to_int(value.c_str(), 1, 100000, settings.depth))
                return usage_error("--depth needs a whole number from 1 to 100000");
        } else if (arg == "--tolerance") {
            if (!take() || !to_price(value.c_str(), settings.tolerance))
                return usage_error("--tolerance needs a price distance, 0 or more");
        } else if (arg == "--mode") {
            if (!take() || !to_int(value.c_str(), 0, 2, settings.mode))
                return usage_error("--mode needs 0, 1 or 2");
        } else if (arg == "--span") {
            if (!take() || !to_int(value.c_str(), 1, INT32_MAX, settings.span))
                return usage_error("--span needs a whole number, 1 or more");
        } else if (arg == "--svg") {
            if (!take() || value.empty()) return usage_error("--svg needs a file name");
            svg = value;
        } else if (arg == "--library") {
            if (!take() || value.empty()) return usage_error("--library needs a file name");
            library_path = value;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option " + arg);
        } else if (!input.empty()) {
            return usage_error("one input file only, got " + input + " and " + arg);
        } else {
            input = arg;
        }
    }
    if (input.empty()) input = TIDEMARK_SAMPLE;
    if (library_path.empty()) library_path = loader::library_path();

    // Every export is resolved before any work, as a host does at start.
    loader::Library library;
    std::string error;
    if (!library.open(library_path, error)) {
        std::fprintf(err, "tidemark-scan: %s\n", error.c_str());
        return kBadLibrary;
    }

    const bool terminal = TM_ISATTY(TM_FILENO(err)) != 0;
    ProgressLine progress(err, terminal && file_size(input) >= kLongInput);
    const Progress report_progress = [&](const char* stage, double done) { progress(stage, done); };

    Run result;
    result.input = input;
    result.library = library_path;
    if (!read_bars(input, result.series, error, report_progress)) {
        progress.finish();
        std::fprintf(err, "tidemark-scan: %s\n", error.c_str());
        return kBadInput;
    }
    result.analysis = analyse(library.exports(), result.series, settings, report_progress);
    if (!svg.empty()) {
        progress("drawing", 0.0);
        const std::string chart = render_svg(result);
        if (!write_file_atomically(svg, chart, error)) {
            progress.finish();
            std::fprintf(err, "tidemark-scan: %s\n", error.c_str());
            return kBadInput;
        }
    }
    progress.finish();
    if (json) write_json(out, result);
    else write_report(out, result);
    if (!svg.empty() && !json) std::fprintf(out, "  chart written to %s\n", svg.c_str());
    return std::fflush(out) == 0 ? kOk : kBadInput;
}

}  // namespace tidemark::scan
