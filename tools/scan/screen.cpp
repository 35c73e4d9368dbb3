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

ScreenEntry screen_file(const loader::Exports& lib, const std::string& file, const Settings& settings,
                        const Window& window, const ReadOptions& read) {
    ScreenEntry entry;
    entry.file = file;
    BarSeries series;
    if (!read_bars(file, series, entry.error, nullptr, read)) return entry;
    const std::size_t in_file = series.bars.size();
    if (!apply_window(series, window)) {
        entry.error = ReadError{file, 0, "none of its " + std::to_string(in_file) + " bars is in the window"};
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

}  // namespace

std::vector<ScreenEntry> run_screen(const loader::Exports& lib, const std::vector<std::string>& files,
                                    const Settings& settings, const Window& window, const ReadOptions& read,
                                    const ScreenProgress& progress) {
    std::vector<ScreenEntry> entries(files.size());
    std::atomic<std::size_t> next{0}, done{0};
    // Each worker takes the next file until none is left; the entries are
    // written to distinct slots, so no lock is needed.
    const auto work = [&](bool report) {
        for (std::size_t i; (i = next.fetch_add(1)) < files.size();) {
            const auto no_memory = [&] {
                entries[i].file = files[i];
                entries[i].error = ReadError{files[i], 0, kNoMemory};
            };
            try {
                entries[i] = screen_file(lib, files[i], settings, window, read);
            } catch (const std::bad_alloc&) {
                no_memory();
            } catch (const std::length_error&) {  // more than a 32-bit string or vector can hold
                no_memory();
            }
            const std::size_t finished = done.fetch_add(1) + 1;
            if (report && progress) progress(finished, files.size());
        }
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t helpers = std::min<std::size_t>(cores, files.size()) - (files.empty() ? 0 : 1);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < helpers; ++t) threads.emplace_back(work, false);
    work(true);
    for (std::thread& t : threads) t.join();
    if (progress) progress(files.size(), files.size());

    std::stable_sort(entries.begin(), entries.end(), [](const ScreenEntry& a, const ScreenEntry& b) {
        if (a.ok != b.ok) return a.ok;
        if (!a.ok) return a.file < b.file;
        return screen_order(a.row, a.file, b.row, b.file);
    });
    return entries;
}

}  // namespace tidemark::scan
