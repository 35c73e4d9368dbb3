#include "screen.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <stdexcept>
#include <thread>

#include "bars.h"
#include "format.h"

namespace tidemark::scan {
namespace {

// One series to screen: a file, or one symbol of a table of closes.
struct Job {
    std::string file;
    std::string symbol;
};

ScreenEntry screen_file(const loader::Exports& lib, const Job& job, const Settings& settings, const Window& window,
                        const ReadOptions& read) {
    ScreenEntry entry;
    entry.file = job.file;
    entry.symbol = job.symbol;
    ReadOptions options = read;
    if (!job.symbol.empty()) options.symbol = job.symbol;
    BarSeries series;
    if (!read_bars(job.file, series, entry.error, nullptr, options)) return entry;
    const std::size_t in_file = series.bars.size();
    if (!apply_window(series, window)) {
        entry.error = ReadError{job.file, 0, in_file == 1 ? std::string("its one bar is not in the window")
                                                        : "none of its " + std::to_string(in_file) +
                                                              " bars is in the window"};
        return entry;
    }
    Settings quick = settings;
    quick.count_fractals = false;  // a row shows no fractal counts
    const Analysis analysis = analyse(lib, series, quick);
    entry.row = screen_row(series, analysis);
    entry.mean_range = analysis.mean_range;
    entry.data_decimals = data_decimals(series.bars, 250);
    entry.ok = true;
    return entry;
}

std::vector<ScreenEntry> screen_jobs(const loader::Exports& lib, const std::vector<Job>& jobs,
                                     const Settings& settings, const Window& window, const ReadOptions& read,
                                     const ScreenProgress& progress) {
    std::vector<ScreenEntry> entries(jobs.size());
    std::atomic<std::size_t> next{0}, done{0};
    // Each worker takes the next job until none is left; the entries are
    // written to distinct slots, so no lock is needed.
    const auto work = [&](bool report) {
        for (std::size_t i; (i = next.fetch_add(1)) < jobs.size();) {
            const auto no_memory = [&] {
                entries[i].file = jobs[i].file;
                entries[i].symbol = jobs[i].symbol;
                entries[i].error = ReadError{jobs[i].file, 0, kNoMemory};
            };
            try {
                entries[i] = screen_file(lib, jobs[i], settings, window, read);
            } catch (const std::bad_alloc&) {
                no_memory();
            } catch (const std::length_error&) {  // more than a 32-bit string or vector can hold
                no_memory();
            }
            const std::size_t finished = done.fetch_add(1) + 1;
            if (report && progress) progress(finished, jobs.size());
        }
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t helpers = std::min<std::size_t>(cores, jobs.size()) - (jobs.empty() ? 0 : 1);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < helpers; ++t) threads.emplace_back(work, false);
    work(true);
    for (std::thread& t : threads) t.join();
    if (progress) progress(jobs.size(), jobs.size());
    return entries;
}

}  // namespace

std::vector<ScreenEntry> run_screen(const loader::Exports& lib, const std::vector<std::string>& files,
                                    const Settings& settings, const Window& window, const ReadOptions& read,
                                    const ScreenProgress& progress) {
    std::vector<Job> jobs;
    for (const std::string& file : files) jobs.push_back({file, std::string()});
    std::vector<ScreenEntry> entries = screen_jobs(lib, jobs, settings, window, read, progress);
    // A table of closes: an entry for each of its symbols, in its place.
    std::vector<Job> symbols;
    std::vector<ScreenEntry> kept;
    for (ScreenEntry& e : entries) {
        if (e.ok || e.error.symbols.empty()) {
            kept.push_back(std::move(e));
            continue;
        }
        for (const std::string& symbol : e.error.symbols) symbols.push_back({e.file, symbol});
    }
    if (!symbols.empty()) {
        std::vector<ScreenEntry> more = screen_jobs(lib, symbols, settings, window, read, progress);
        kept.insert(kept.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    }
    entries.swap(kept);

    std::stable_sort(entries.begin(), entries.end(), [](const ScreenEntry& a, const ScreenEntry& b) {
        if (a.ok != b.ok) return a.ok;
        if (!a.ok) return a.label() < b.label();
        return screen_order(a.row, a.label(), b.row, b.label());
    });
    return entries;
}

}  // namespace tidemark::scan
