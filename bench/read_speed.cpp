// Reading a plain file of bars beside counting its newlines, side by side in
// one run: the newline count is what any reading of the bytes costs (the
// same file through the same 1 MiB chunks, memchr over each), so the ratio
// read / count says how far the reader is from reading at the speed of
// memory, whatever else the machine does meanwhile. The analysis is timed
// apart, as is the read with the fast rows off (every line through the
// stages one by one), for what the fast rows save.
//
// Two files, written once into FOLDER: 3,000,000 minute bars
// (YYYY-MM-DD HH:MM,o,h,l,c,v, about 150 MB) and 2,500 daily bars (the
// screen's files, about 110 KB, read many times over per timing). Each side
// is timed alternately, round after round; the fastest round of each counts
// (the least disturbed on a shared machine), the load average is printed
// with every figure.
//
// usage: tidemark_read_speed FOLDER [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analysis.h"
#include "bars.h"
#include "input.h"
#include "loader.h"

#ifndef _WIN32
#include <stdlib.h>  // getloadavg
#include <sys/resource.h>
#endif

namespace {

using namespace tidemark;
using Clock = std::chrono::steady_clock;

double load_average() {
#ifndef _WIN32
    double load[1] = {0};
    if (getloadavg(load, 1) == 1) return load[0];
#endif
    return -1;
}

bool exists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    std::fclose(f);
    return true;
}

// A random walk of bars, one a minute (or a weekday), prices with two
// decimals, rounded outward so that open and close stay within the range.
void write_bars(const std::string& path, long bars, bool daily) {
    if (exists(path + ".complete")) return;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::mt19937_64 rng(20261208);
    std::normal_distribution<double> step(0, daily ? 0.015 : 0.001), wick(0, daily ? 0.008 : 0.0005);
    std::uniform_int_distribution<long> volume(100, 5000000);
    std::fputs("Date,Open,High,Low,Close,Volume\n", f);
    double close = 100;
    int64_t day = 14613;  // 2010-01-04, a Monday
    int minute = 0;
    for (long i = 0; i < bars; ++i) {
        const double open = close;
        close = std::round(open * std::exp(step(rng)) * 100) / 100;
        const double high = std::ceil(std::max(open, close) * (1 + std::abs(wick(rng))) * 100) / 100;
        const double low = std::floor(std::min(open, close) * (1 - std::abs(wick(rng))) * 100) / 100;
        // Civil date of the day number (days since 1970-01-01).
        const int64_t z = day + 719468, era = z / 146097, doe = z - era * 146097;
        const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365, doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const int64_t mp = (5 * doy + 2) / 153, d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
        const int64_t y = yoe + era * 400 + (m <= 2);
        if (daily)
            std::fprintf(f, "%04" PRId64 "-%02" PRId64 "-%02" PRId64 ",%.2f,%.2f,%.2f,%.2f,%ld\n", y, m, d, open, high,
                         low, close, volume(rng));
        else
            std::fprintf(f, "%04" PRId64 "-%02" PRId64 "-%02" PRId64 " %02d:%02d,%.2f,%.2f,%.2f,%.2f,%ld\n", y, m, d,
                         minute / 60, minute % 60, open, high, low, close, volume(rng) / 1000);
        if (daily || ++minute == 1440) {
            minute = 0;
            do ++day;
            while ((day + 3) % 7 >= 5);  // weekdays only (1970-01-01 was a Thursday)
        }
    }
    if (std::fclose(f) != 0) std::exit(1);
    std::FILE* done = std::fopen((path + ".complete").c_str(), "wb");
    if (done != nullptr) std::fclose(done);
}

uint64_t file_size(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::fseek(f, 0, SEEK_END);
    const long n = std::ftell(f);
    std::fclose(f);
    return static_cast<uint64_t>(n);
}

// The floor: the file's newlines counted, read the way the reader reads it.
std::size_t count_newlines(const std::string& path) {
    uint64_t size = 0;
    std::string why;
    std::FILE* file = reader::open_to_read(path, size, why);
    reader::FileSource source(file, size);
    std::size_t lines = 0;
    std::string_view chunk;
    while (source.next(chunk, why) == reader::Source::Got::chunk)
        for (const char *p = chunk.data(), *end = p + chunk.size();
             (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr; ++p)
            ++lines;
    std::fclose(file);
    return lines;
}

// The same count over the bytes already in memory: no reading at all, the
// floor of the floor.
std::size_t count_in_memory(const std::string& bytes) {
    std::size_t lines = 0;
    for (const char *p = bytes.data(), *end = p + bytes.size();
         (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr; ++p)
        ++lines;
    return lines;
}

reader::BarSeries read_file(const std::string& path, bool fast) {
    reader::BarSeries series;
    reader::ReadOptions options;
    options.fast_rows = fast;
    reader::ReadError error;
    if (!reader::read_bars(path, series, error, nullptr, options)) {
        std::fprintf(stderr, "%s\n", error.text().c_str());
        std::exit(1);
    }
    return series;
}

volatile std::size_t sink;

// The process's peak resident memory so far, in bytes (Linux counts KiB).
double peak_resident() {
#ifndef _WIN32
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) return static_cast<double>(usage.ru_maxrss) * 1024;
#endif
    return 0;
}

// The memory a read takes at its peak, beside the file and per bar: the
// first thing the program does, so that the peak is the read's.
void measure_memory(const std::string& path) {
    const double before = peak_resident();
    const std::size_t bars = read_file(path, true).bars.size();
    const double taken = peak_resident() - before, size = static_cast<double>(file_size(path));
    std::printf("Memory: reading %s (%zu bars, %.1f bytes a line) took %.1f MB at its peak: %.1f bytes a bar, "
                "%.2f x the file   goal <= 1.5 x for lines of 50 bytes or more\n",
                path.c_str(), bars, size / static_cast<double>(bars), taken / 1e6, taken / static_cast<double>(bars),
                taken / size);
}

struct Timed {
    const char* name;
    std::function<void()> body;
    std::vector<double> seconds;
};

void measure(const char* title, const std::string& path, int repeat, int rounds, const loader::Exports& lib) {
    const reader::BarSeries series = read_file(path, true);
    if (read_file(path, false).bars.size() != series.bars.size()) {
        std::fprintf(stderr, "%s: the fast rows and the stages read different bars\n", path.c_str());
        std::exit(1);
    }
    std::string bytes, why;
    reader::read_file(path, bytes, why);
    std::vector<Timed> sides = {
        {"newline count", [&] { sink = count_newlines(path); }, {}},
        {"... in memory", [&] { sink = count_in_memory(bytes); }, {}},
        {"read (the goal)", [&] { sink = read_file(path, true).bars.size(); }, {}},
        {"read, fast rows off", [&] { sink = read_file(path, false).bars.size(); }, {}},
        {"analysis alone", [&] { sink = analysis::analyse(lib, series, analysis::Settings{}).levels.size(); }, {}},
    };
    std::vector<double> loads;
    for (int r = 0; r < rounds; ++r) {
        for (Timed& side : sides) {
            const auto start = Clock::now();
            for (int k = 0; k < repeat; ++k) side.body();
            side.seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count() / repeat);
        }
        loads.push_back(load_average());
    }
    const double mb = static_cast<double>(file_size(path)) / 1e6;
    std::printf("%s: %s, %.1f MB, %zu bars%s\n", title, path.c_str(), mb, series.bars.size(),
                repeat > 1 ? (", each timing the mean of " + std::to_string(repeat) + " reads").c_str() : "");
    const auto fastest = [](const Timed& t) { return *std::min_element(t.seconds.begin(), t.seconds.end()); };
    const double floor = fastest(sides[0]);
    for (const Timed& side : sides) {
        const double s = fastest(side);
        std::printf("  %-20s %10.3f ms  %7.0f MB/s  %6.2f x the newline count\n", side.name, s * 1e3, mb / s, s / floor);
    }
    const double ratio = fastest(sides[2]) / floor, in_memory = fastest(sides[2]) / fastest(sides[1]);
    std::printf("  goal: read <= 9 x the newline count: %.2f x, %s; %.2f x the count in memory, %s"
                "   (load average %.2f ... %.2f on %u cores)\n",
                ratio, ratio <= 9 ? "met" : "MISSED", in_memory, in_memory <= 9 ? "met" : "MISSED",
                *std::min_element(loads.begin(), loads.end()), *std::max_element(loads.begin(), loads.end()),
                std::max(1u, std::thread::hardware_concurrency()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const std::string minute = folder + "/minute-bars.csv", daily = folder + "/daily-bars.csv";
    write_bars(minute, 3000000, false);
    write_bars(daily, 2500, true);
    measure_memory(minute);
    loader::Library library;
    std::string error;
    if (!library.open(loader::library_path(), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    measure("Minute bars", minute, 1, rounds, library.exports());
    measure("Daily bars", daily, 200, rounds, library.exports());
    return 0;
}
