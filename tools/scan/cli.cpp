#include "cli.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
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
#include "bytes.h"
#include "input.h"
#include "files.h"
#include "format.h"
#include "loader.h"
#include "report.h"
#include "sample.h"
#include "screen.h"
#include "svg.h"
#include "timestamp.h"
#include "walk.h"

#ifndef TIDEMARK_VERSION
#define TIDEMARK_VERSION "unknown"
#endif

namespace tidemark::scan {
namespace {

const char* const kUsage =
    "usage: tidemark-scan [options] [FILE.csv | FOLDER | -] ...\n"
    "Finds price levels in CSV files of bars with the tidemark library, loaded as a charting\n"
    "host loads it: fractals of every bar, merged into weighted levels, and the last close\n"
    "tested against them. One file gives a report; several files or a folder (its *.csv\n"
    "and *.csv.gz) give a screen, one row per file, nearest to a level first. - reads\n"
    "standard input.\n"
    "Without a file: the bundled sample, data/daily-bars.csv.\n"
    "\n"
    "  FILE.csv        columns named date (or time, datetime, timestamp), open, high, low,\n"
    "                  close and optionally volume, in any order; without a header in that\n"
    "                  order; separated by , ; or tab; oldest or newest first; UTF-8 or\n"
    "                  UTF-16, gzip-compressed or not\n"
    "  --depth N       fractal depth: neighbours examined on each side (default 2)\n"
    "  --tolerance X   price distance that merges levels and matches the close\n"
    "                  (default 0.5 x the mean bar range)\n"
    "  --mode M        merge mode: 0 heavier level wins, 1 weights add, 2 weights add and\n"
    "                  the price becomes the weighted mean (default 1)\n"
    "  --span N        span for rescaling the level weights (default 11)\n"
    "  --dates ORDER   numeric dates are mdy (02/27/2003), dmy (27.02.2003) or ymd\n"
    "                  (03-02-27); serial reads a spreadsheet's day numbers (37679);\n"
    "                  ms, us, ns read epoch times in that unit whatever their digits\n"
    "                  (default: the order a day above 12 shows in the file, the unit\n"
    "                  13, 16 or 19 digits show)\n"
    "  --columns LIST  the columns by name, as in date=Datum,open=Eröffnung,close=Schluss,\n"
    "                  or by position, date=1,open=2,... (roles: date time datetime open\n"
    "                  high low close volume symbol); close alone: bars of closes\n"
    "  --symbol NAME   of a file of several symbols, read the rows of NAME\n"
    "  --from DATE     analyse the bars from DATE on (YYYY-MM-DD, optionally with a time)\n"
    "  --to DATE       ... up to DATE (a date alone takes in the whole day)\n"
    "  --last N        ... only the last N of them\n"
    "  --levels N      list and draw only the N heaviest levels\n"
    "  --walk FILE     also write the walk into FILE (- for standard output instead of\n"
    "                  the report): for every bar, the levels as they stood at its\n"
    "                  close from the bars up to it, and where the close stood; CSV,\n"
    "                  or JSON with --json; never overwrites the input or a file that\n"
    "                  is not a walk\n"
    "  --window N      the walk takes each bar's levels from its last N bars (default:\n"
    "                  all bars up to it)\n"
    "  --json          print JSON instead of the report\n"
    "  --svg FILE      also draw the chart as SVG into FILE (one input only); never\n"
    "                  overwrites the input or a file that is not an SVG chart\n"
    "  --library PATH  the library to load (default: $TIDEMARK_LIBRARY, else the\n"
    "                  library beside this program)\n"
    "  --version       print the version\n"
    "  -h, --help      print this help\n"
    "\n"
    "Exit status: 0 done, 1 a bad input file, chart file or output that cannot be\n"
    "written (in a screen: any file), 2 bad usage, 3 library unusable.\n";

const char* const kStdinName = "<stdin>";

#ifdef _WIN32
constexpr bool kExpandsWildcards = true;
#else
constexpr bool kExpandsWildcards = false;  // the shell has expanded them; a * left is part of a name
#endif

bool to_int(const std::string& text, long low, long high, int32_t& value) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool to_price(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && std::isfinite(value) && value >= 0;
}

// Progress on a terminal only, and only for work long enough to need it.
class ProgressLine {
public:
    ProgressLine(std::FILE* err, bool wanted) : err_(err), on_(wanted) {}
    ~ProgressLine() { finish(); }
    void show(const std::string& text) {
        if (!on_) return;
        std::fprintf(err_, "\rtidemark-scan: %-40s", text.c_str());
        std::fflush(err_);
        shown_ = true;
    }
    // A stage of work and how much of it is done, as "walking 42%".
    void show(const char* stage, double done) {
        show(std::string(stage) + " " + std::to_string(static_cast<int>(done * 100)) + "%");
    }
    void finish() {
        if (!shown_) return;
        std::fprintf(err_, "\r%56s\r", "");
        std::fflush(err_);
        shown_ = false;
    }

private:
    std::FILE* err_;
    bool on_;
    bool shown_ = false;
};

// Inputs at least this large get progress on a terminal: about 100,000 bars.
constexpr std::size_t kLongInput = 4u << 20;

struct Options {
    Settings settings;
    Window window;
    ReadOptions read;
    std::vector<std::string> inputs;
    std::string svg, library;
    std::size_t levels = 0;
    std::string walk;             // --walk FILE, "-" for standard output
    std::size_t walk_window = 0;  // --window N
    std::string from, to;         // --from and --to as given: read after every option
    bool json = false;
    bool help = false, version = false;
};

// Applies an option of what is read (the bars, their dates and columns),
// as apply_option does.
bool apply_read_option(const std::string& arg, const std::function<bool()>& take, const std::string& value,
                       Options& o, std::string& why) {
    int32_t number = 0;
    if (arg == "--last") {
        if (!take() || !to_int(value, 1, INT32_MAX, number))
            return why = "--last needs a whole number of bars, 1 or more", false;
        o.window.last = static_cast<std::size_t>(number);
    } else if (arg == "--from") {
        if (!take()) return why = "--from needs a date: YYYY-MM-DD, optionally with a time", false;
        o.from = value;
        o.window.has_from = true;
    } else if (arg == "--to") {
        if (!take()) return why = "--to needs a date: YYYY-MM-DD, optionally with a time", false;
        o.to = value;
        o.window.has_to = true;
    } else if (arg == "--dates") {
        if (!take() || !date_order_from_text(value, o.read.dates))
            return why = "--dates needs mdy, dmy, ymd, serial, ms, us or ns", false;
    } else if (arg == "--symbol") {
        if (!take() || value.empty()) return why = "--symbol needs the symbol to read", false;
        o.read.symbol = value;
    } else if (arg == "--columns") {
        if (!take()) return why = "--columns needs ROLE=NAME pairs (as in --columns date=Datum,close=Schluss)", false;
        if (!parse_column_choices(value, o.read.columns, why)) return false;
    } else {
        return why = "unknown option " + arg, false;
    }
    return true;
}

// Applies one option: take() puts its value into value, false when it has
// none. False with why set on a bad value or an unknown option.
bool apply_option(const std::string& arg, const std::function<bool()>& take, const std::string& value,
                  Options& o, std::string& why) {
    int32_t number = 0;
    if (arg == "-h" || arg == "--help") {
        o.help = true;
    } else if (arg == "--version") {
        o.version = true;
    } else if (arg == "--json") {
        o.json = true;
    } else if (arg == "--depth") {
        if (!take() || !to_int(value, 1, 100000, o.settings.depth))
            return why = "--depth needs a whole number from 1 to 100000", false;
    } else if (arg == "--tolerance") {
        if (!take() || !to_price(value, o.settings.tolerance))
            return why = "--tolerance needs a price distance, 0 or more", false;
    } else if (arg == "--mode") {
        if (!take() || !to_int(value, 0, 2, o.settings.mode)) return why = "--mode needs 0, 1 or 2", false;
    } else if (arg == "--span") {
        if (!take() || !to_int(value, 1, INT32_MAX, o.settings.span))
            return why = "--span needs a whole number, 1 or more", false;
    } else if (arg == "--levels") {
        if (!take() || !to_int(value, 1, INT32_MAX, number))
            return why = "--levels needs a whole number, 1 or more", false;
        o.levels = static_cast<std::size_t>(number);
    } else if (arg == "--walk") {
        if (!take() || value.empty())
            return why = "--walk needs a file name for the rows (- for standard output)", false;
        o.walk = value;
    } else if (arg == "--window") {
        if (!take() || !to_int(value, 1, INT32_MAX, number))
            return why = "--window needs a whole number of bars, 1 or more", false;
        o.walk_window = static_cast<std::size_t>(number);
    } else if (arg == "--svg") {
        if (!take() || value.empty()) return why = "--svg needs a file name", false;
        // The chart is SVG whatever the name says: a name that says
        // otherwise (chart.png) would mislead every program that opens it.
        if (!has_extension(value, ".svg"))
            return why = "--svg writes an SVG chart: name the file *.svg (not " + value + ")", false;
        o.svg = value;
    } else if (arg == "--library") {
        if (!take() || value.empty()) return why = "--library needs a file name", false;
        o.library = value;
    } else {
        return apply_read_option(arg, take, value, o, why);
    }
    return true;
}

// Adds an input as named; on Windows, which hands *.csv over as written,
// the files it matches.
bool add_input(const std::string& arg, Options& o, std::string& why) {
    if (!kExpandsWildcards || !has_wildcard(arg)) {
        o.inputs.push_back(arg);
        return true;
    }
    const std::vector<std::string> found = expand_wildcard(arg);
    if (found.empty()) return why = arg + ": no file matches", false;
    o.inputs.insert(o.inputs.end(), found.begin(), found.end());
    return true;
}

// Parses argv; on a bad argument returns false with why set.
bool parse_options(int argc, const char* const* argv, Options& o, std::string& why) {
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
        // The next argument is the value, unless it is another option: a
        // forgotten value must not turn "--json" into a file name.
        const auto take = [&]() -> bool {
            if (has_value) return true;
            if (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0) return false;
            value = argv[++i];
            return true;
        };
        const bool is_option = arg.size() > 1 && arg[0] == '-';
        if (!(is_option ? apply_option(arg, take, value, o, why) : add_input(arg, o, why))) return false;
    }
    // After every option, so that --dates applies wherever it stands.
    return window_bounds(o.window.has_from ? &o.from : nullptr, o.window.has_to ? &o.to : nullptr, o.read.dates,
                         o.window, why);
}

// Reports an error: one line on err, and with --json the same as an object
// on out.
int fail(std::FILE* out, std::FILE* err, bool json, const ReadError& error, int status) {
    std::fprintf(err, "tidemark-scan: %s\n", error.text().c_str());
    if (json) write_error_json(out, error);
    return status;
}

// A file the command may write: never the input, never a folder, never an
// existing file that is_own does not take for one it wrote (a `noun`).
bool target_ok(const std::string& path, const std::string& input, const char* what, const char* noun,
               bool (*is_own)(const std::string&), std::string& why) {
    const PathKind kind = path_kind(path);
    if (kind == PathKind::missing) return true;
    if (kind == PathKind::folder) return why = "is a folder: the " + std::string(what) + " needs a file name", false;
    if (!input.empty() && same_file(path, input)) return why = "is the input file: it is not overwritten", false;
    if (!is_own(path))
        return why = "exists and is not " + std::string(noun) +
                     ": it is not overwritten (remove it, or name another file)",
               false;
    return true;
}

bool chart_target_ok(const std::string& svg, const std::string& input, std::string& why) {
    return target_ok(svg, input, "chart", "an SVG chart", looks_like_svg, why);
}

bool looks_like_walk(const std::string& path) {
    return starts_with_any(path, {walk_start(false), walk_start(true) + "\n  {\"date\":", "[]"});
}

// The walk may also go to standard output ("-").
bool walk_target_ok(const std::string& walk, const std::string& input, std::string& why) {
    return walk == "-" || target_ok(walk, input, "walk", "a walk's rows", looks_like_walk, why);
}

// Inputs at least this long get the walk's progress on a terminal.
constexpr std::size_t kLongWalk = 50000;

// The walk's rows as --walk writes them: CSV, or JSON with --json.
std::string walk_text(const Options& o, const loader::Exports& lib, const BarSeries& series, std::FILE* err,
                      bool terminal) {
    ProgressLine walking(err, terminal && series.bars.size() >= kLongWalk);
    std::string rows = walk_start(o.json);
    bool first = true;
    walk(
        lib, series, o.settings, o.walk_window,
        [&](std::size_t, const ScreenRow& row) {
            walk_row(rows, row, o.json, first);
            first = false;
        },
        [&](const char* stage, double done) { walking.show(stage, done); });
    walking.finish();
    return rows + walk_end(o.json, first);
}

int screen(const Options& o, const loader::Exports& lib, std::FILE* out, std::FILE* err) {
    std::vector<std::string> files;
    std::vector<ScreenEntry> unlisted;
    for (const std::string& input : o.inputs) {
        if (path_kind(input) != PathKind::folder) {
            files.push_back(input);
            continue;
        }
        std::vector<std::string> found;
        ScreenEntry entry;
        entry.file = input;
        if (!list_csv_files(input, found, entry.error.what)) {
            entry.error.file = input;
            unlisted.push_back(entry);
        } else if (found.empty()) {
            // The message names the folder itself: no file to put before it.
            entry.error.what = "no *.csv or *.csv.gz files in " + input;
            unlisted.push_back(entry);
        }
        files.insert(files.end(), found.begin(), found.end());
    }
    std::vector<ScreenEntry> entries;
    if (!files.empty()) {
        ProgressLine line(err, TM_ISATTY(TM_FILENO(err)) != 0 && files.size() > 1);
        std::size_t shown = 0;  // redrawn once per percent, not per file
        entries = run_screen(lib, files, o.settings, o.window, o.read, [&](std::size_t done, std::size_t total) {
            const std::size_t percent = total == 0 ? 100 : done * 100 / total;
            if (percent == shown && done != total) return;
            shown = percent;
            line.show("screening " + std::to_string(done) + "/" + std::to_string(total) + " files");
        });
    }
    entries.insert(entries.end(), unlisted.begin(), unlisted.end());
    bool failed = false;
    for (const ScreenEntry& e : entries) {
        if (e.ok) continue;
        failed = true;
        std::fprintf(err, "tidemark-scan: %s\n", e.error.text().c_str());
    }
    if (o.json) write_screen_json(out, entries);
    else write_screen(out, entries, o.settings);
    return failed ? kBadInput : kOk;
}

int single(const Options& o, const loader::Exports& lib, const std::string& library_path, std::FILE* out,
           std::FILE* err) {
    Run run;
    run.library = library_path;
    run.levels_listed = o.levels;
    run.chart = o.svg;
    const bool terminal = TM_ISATTY(TM_FILENO(err)) != 0;

    ReadError error;
    std::unique_ptr<Source> source;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, std::fclose);
    uint64_t size = 0;
    std::string why;
    if (o.inputs.empty()) {
        run.input = kSampleName;
        run.sample = true;
        std::fprintf(err, "tidemark-scan: no file given: using the bundled sample, %s\n", kSampleName);
        source = std::make_unique<MemorySource>(sample_text());
    } else if (o.inputs[0] == "-") {
        run.input = kStdinName;
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        source = std::make_unique<FileSource>(stdin);
    } else {
        run.input = o.inputs[0];
        file.reset(open_to_read(run.input, size, why));
        if (!file) return fail(out, err, o.json, ReadError{run.input, 0, why}, kBadInput);
        source = std::make_unique<FileSource>(file.get(), size);
    }
    const std::string named_input = run.sample || o.inputs[0] == "-" ? "" : run.input;
    if (!o.svg.empty() && !chart_target_ok(o.svg, named_input, why))
        return fail(out, err, o.json, ReadError{o.svg, 0, why}, kBadInput);
    if (!o.walk.empty() && !walk_target_ok(o.walk, named_input, why))
        return fail(out, err, o.json, ReadError{o.walk, 0, why}, kBadInput);

    // Read a chunk at a time: the bars take memory, the file does not.
    ProgressLine progress(err, terminal && size >= kLongInput);
    const Progress report_progress = [&](const char* stage, double done) { progress.show(stage, done); };
    if (!read_series(run.input, *source, run.series, error, report_progress, o.read)) {
        progress.finish();
        // A table of closes, a symbol per column: screened, a row each.
        if (!error.symbols.empty() && o.svg.empty() && !run.sample && o.inputs[0] != "-") {
            source.reset();
            file.reset();
            return screen(o, lib, out, err);
        }
        return fail(out, err, o.json, error, kBadInput);
    }
    source.reset();
    file.reset();
    const BarSeries& s = run.series;
    run.bars_in_file = s.bars.size();
    const std::string file_dates =
        time_text(s.bars.front().time, s.intraday) + " to " + time_text(s.bars.back().time, s.intraday);
    if (!apply_window(run.series, o.window)) {
        progress.finish();
        return fail(out, err, o.json,
                    ReadError{run.input, 0, "no bars in the window: the file runs from " + file_dates}, kBadInput);
    }
    run.windowed = run.series.bars.size() != run.bars_in_file;
    run.analysis = analyse(lib, run.series, o.settings, report_progress);
    if (!o.svg.empty()) {
        progress.show("drawing");
        if (!write_file_atomically(o.svg, render_svg(run), why)) run.chart_error = why;
    }
    progress.finish();
    std::string walk_error;
    if (!o.walk.empty()) {
        const std::string rows = walk_text(o, lib, run.series, err, terminal);
        // The rows on standard output take the report's place.
        if (o.walk == "-") {
            std::fputs(rows.c_str(), out);
        } else if (!write_file_atomically(o.walk, rows, why)) {
            walk_error = why;
        }
    }
    // The analysis is printed even when the chart or the walk could not be
    // written.
    if (o.walk != "-") {
        if (o.json) write_json(out, run);
        else write_report(out, run);
    }
    bool failed = false;
    for (const std::string* e : {&run.chart_error, &walk_error}) {
        if (e->empty()) continue;
        std::fprintf(err, "tidemark-scan: %s\n", e->c_str());
        failed = true;
    }
    return failed ? kBadInput : kOk;
}

int run_command(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    Options o;
    std::string why;
    if (!parse_options(argc, argv, o, why)) {
        std::fprintf(err, "tidemark-scan: %s (try --help)\n", why.c_str());
        bool json = false;
        for (int i = 1; i < argc; ++i) json = json || std::strcmp(argv[i], "--json") == 0;
        if (json) write_error_json(out, ReadError{"", 0, why});
        return kBadUsage;
    }
    if (o.help) {
        std::fputs(kUsage, out);
        return kOk;
    }
    if (o.version) {
        std::fprintf(out, "tidemark-scan %s\n", TIDEMARK_VERSION);
        return kOk;
    }
    bool folder = false, stdin_input = false;
    for (const std::string& input : o.inputs) {
        folder = folder || path_kind(input) == PathKind::folder;
        stdin_input = stdin_input || input == "-";
    }
    const bool screening = o.inputs.size() > 1 || folder;
    const auto usage = [&](const std::string& what) {
        std::fprintf(err, "tidemark-scan: %s (try --help)\n", what.c_str());
        if (o.json) write_error_json(out, ReadError{"", 0, what});
        return kBadUsage;
    };
    if (screening && stdin_input) return usage("- (standard input) cannot be part of a screen of several files");
    if (screening && !o.svg.empty()) return usage("--svg draws the chart of one file, not of a screen");
    if (screening && !o.walk.empty()) return usage("--walk walks one file, not a screen");
    if (o.walk_window > 0 && o.walk.empty()) return usage("--window is the walk's: use it with --walk FILE");

    const std::string library_path = o.library.empty() ? loader::library_path() : o.library;
    // Every export is resolved before any work, as a host does at start.
    loader::Library library;
    if (!library.open(library_path, why)) {
        std::fprintf(err, "tidemark-scan: %s\n", why.c_str());
        if (o.json) {
            const std::string prefix = library_path + ": ";
            write_error_json(out, ReadError{library_path, 0,
                                            why.compare(0, prefix.size(), prefix) == 0 ? why.substr(prefix.size())
                                                                                       : why});
        }
        return kBadLibrary;
    }
    if (screening) return screen(o, library.exports(), out, err);
    const auto no_memory = [&] {
        const std::string input = o.inputs.empty() ? kSampleName : o.inputs[0] == "-" ? kStdinName : o.inputs[0];
        return fail(out, err, o.json, ReadError{input, 0, kNoMemory}, kBadInput);
    };
    try {
        return single(o, library.exports(), library_path, out, err);
    } catch (const std::bad_alloc&) {
        return no_memory();
    } catch (const std::length_error&) {  // more than a 32-bit string or vector can hold
        return no_memory();
    }
}

}  // namespace

int run(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    const int status = run_command(argc, argv, out, err);
    // Output that did not reach its file (a full disk, a closed pipe) is a
    // failure, and said where it can be seen.
    errno = 0;
    const bool flushed = std::fflush(out) == 0;
    const int why = errno;
    if (flushed && std::ferror(out) == 0) return status;
    std::fprintf(err, "tidemark-scan: cannot write the output%s%s\n", why != 0 ? ": " : "",
                 why != 0 ? std::strerror(why) : "");
    return status == kOk ? kBadInput : status;
}

}  // namespace tidemark::scan
