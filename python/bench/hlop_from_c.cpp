// The same Hlop call as the Python benchmark, made from native code: loads the
// library through the project's loader, as a host does, reads the levels the
// benchmark wrote, and prints the median CPU seconds of `repeats` calls, each
// on a fresh copy of the levels (the copy timed too, as the Python call
// copies its inputs), and writes the merged prices and weights to RESULT-FILE
// for comparison.
//
//   hlop_from_c LIBRARY LEVELS-FILE REPEATS RESULT-FILE
//
// LEVELS-FILE: int32 count, double tolerance, int32 mode, count doubles
// (prices), count int32 (weights), all little-endian.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "loader.h"

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

int fail(const std::string& what) {
    std::fprintf(stderr, "hlop_from_c: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return fail("usage: hlop_from_c LIBRARY LEVELS-FILE REPEATS RESULT-FILE");
    tidemark::loader::Library library;
    std::string why;
    if (!library.open(argv[1], why)) return fail(why);
    const auto hlop = library.exports().hlop;

    std::FILE* in = std::fopen(argv[2], "rb");
    if (in == nullptr) return fail("cannot open the levels file");
    int32_t count = 0, mode = 0;
    double tolerance = 0;
    if (std::fread(&count, sizeof count, 1, in) != 1 || std::fread(&tolerance, sizeof tolerance, 1, in) != 1 ||
        std::fread(&mode, sizeof mode, 1, in) != 1 || count <= 0)
        return fail("bad levels file");
    const auto n = static_cast<std::size_t>(count);
    std::vector<double> prices(n), work_prices(n);
    std::vector<int32_t> weights(n), work_weights(n), tags(n);
    const int repeats = std::atoi(argv[3]);
    if (repeats < 1) return fail("no repeats");
    if (std::fread(prices.data(), sizeof prices[0], n, in) != n ||
        std::fread(weights.data(), sizeof weights[0], n, in) != n)
        return fail("short levels file");
    std::fclose(in);

    std::vector<double> seconds;
    for (int r = 0; r < repeats; ++r) {
        const double start = cpu_seconds();
        std::memcpy(work_prices.data(), prices.data(), n * sizeof prices[0]);
        std::memcpy(work_weights.data(), weights.data(), n * sizeof weights[0]);
        hlop(0, 0, work_prices.data(), work_weights.data(), tags.data(), count, tolerance, mode);
        seconds.push_back(cpu_seconds() - start);
    }
    std::sort(seconds.begin(), seconds.end());
    std::FILE* out = std::fopen(argv[4], "wb");
    if (out == nullptr || std::fwrite(work_prices.data(), sizeof prices[0], n, out) != n ||
        std::fwrite(work_weights.data(), sizeof weights[0], n, out) != n || std::fclose(out) != 0)
        return fail("cannot write the result file");
    std::printf("%.9f\n", seconds[static_cast<std::size_t>(repeats / 2)]);
    return 0;
}
