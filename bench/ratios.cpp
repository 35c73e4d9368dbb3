// The ratios of the performance goals, measured with a plain timing loop, so
// that one program runs natively and under Wine against each Windows DLL
// (Google Benchmark has no MinGW build to link here). The library is loaded
// by file name through the loader, as a host does; the floors and the
// unguarded routines are compiled into this program for the same target.
//
// Both sides of a ratio are timed alternately, round after round, and the
// fastest round of each counts: on a shared machine the fastest round is the
// least disturbed one, and alternating keeps a slow spell from favouring one
// side. Prints one line per ratio,
//   ratio <key> <value> <numerator seconds> <denominator seconds>
// then the same in words. scripts/bench puts the targets side by side.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <vector>

#include "bars/fractal.h"
#include "host.h"
#include "levels/check_level.h"
#include "reference.h"
#include "workloads.h"

namespace {

using namespace workloads;
using Clock = std::chrono::steady_clock;

// Keeps a result alive without letting the compiler drop the call.
volatile int64_t sink;

// Seconds per call of `body` run `calls` times, with `prepare` (untimed)
// before each call.
double time_calls(const std::function<void()>& body, const std::function<void()>& prepare, long calls) {
    double total = 0.0;
    if (!prepare) {
        const auto start = Clock::now();
        for (long i = 0; i < calls; ++i) body();
        return std::chrono::duration<double>(Clock::now() - start).count() / calls;
    }
    for (long i = 0; i < calls; ++i) {
        prepare();
        const auto start = Clock::now();
        body();
        total += std::chrono::duration<double>(Clock::now() - start).count();
    }
    return total / calls;
}

struct Side {
    std::function<void()> body;
    std::function<void()> prepare;  // untimed, before each call (may be empty)
    long calls;                     // per round
};

// Short calls run this many to a timed call, so that the timing costs nothing.
constexpr int kBatch = 1000;

struct Ratio {
    const char* key;
    const char* what;
    const char* goal;  // "<= 3", ">= 100"
    Side numerator;
    Side denominator;
    int rounds;
    int batch = 1;  // routine calls per timed call, for the seconds printed per call
};

// Hlop and the stable sort copy their input in every call, timed, as in
// bench.cpp; Resize and its floor get a fresh copy outside the timing.
struct Inputs {
    Levels big = make_levels(Shape::kRandom, kMillion);
    Levels small = make_levels(Shape::kRandom, 10000);
    // Mode 2 with weights of either sign: merged prices leave their pairs.
    Levels signed_big = make_levels(Shape::kSignedWeights, kMillion);
    std::vector<Record> records;
    std::vector<Record> signed_records;
    std::vector<double> prices;
    std::vector<int32_t> weights;
    std::vector<double> level_array = level_prices();
    std::vector<int32_t> weight_input = level_weights();
    std::vector<int32_t> weight_work = std::vector<int32_t>(kMillion);
    std::vector<Record> record_work;
    std::vector<BarRecord> bars = fractal_bars(64);

    Inputs() {
        for (int32_t i = 0; i < kMillion; ++i) {
            records.push_back({big.prices[i], big.weights[i], big.tags[i]});
            signed_records.push_back({signed_big.prices[i], signed_big.weights[i], signed_big.tags[i]});
        }
        record_work.resize(records.size());
    }

    void stable_sort(const std::vector<Record>& from) {
        std::copy(from.begin(), from.end(), record_work.begin());
        std::stable_sort(record_work.begin(), record_work.end(),
                         [](const Record& a, const Record& b) { return a.price < b.price; });
        sink = record_work[0].weight;
    }
};

void merge(const Levels& in, std::vector<double>& prices, std::vector<int32_t>& weights,
           void (*hlop)(double*, int32_t*, const int32_t*, int32_t, double, int32_t), int32_t mode = 1) {
    prices.assign(in.prices.begin(), in.prices.end());
    weights.assign(in.weights.begin(), in.weights.end());
    hlop(prices.data(), weights.data(), in.tags.data(), static_cast<int32_t>(in.prices.size()), in.tolerance, mode);
    sink = weights[0];
}

void library_hlop(double* p, int32_t* w, const int32_t* t, int32_t n, double tol, int32_t mode) {
    host::exports().hlop(0, 0, p, w, t, n, tol, mode);
}

std::vector<Ratio> ratios(Inputs& in) {
    const auto& e = host::exports();
    // Read through volatiles so that the compiler cannot inline the routines:
    // the exports are reached through pointers too.
    static volatile auto up_pointer = &tidemark::bars::check_up_fractal;
    static volatile auto level_pointer = &tidemark::levels::check_level;
    const auto up_routine = up_pointer;
    const auto level_routine = level_pointer;
    const auto up_export = e.check_up_fractal;
    const auto level_export = e.check_level;
    const auto fresh_weights = [&in] { std::copy(in.weight_input.begin(), in.weight_input.end(), in.weight_work.begin()); };
    return {
        {"hlop_vs_stable_sort", "Hlop, 1,000,000 levels / std::stable_sort of the same records", "<= 3",
         {[&] { merge(in.big, in.prices, in.weights, library_hlop); }, {}, 1},
         {[&] { in.stable_sort(in.records); }, {}, 1},
         7},
        {"hlop_signed_vs_stable_sort", "Hlop, signed weights, mode 2 / stable_sort of the same records", "<= 1.5",
         {[&] { merge(in.signed_big, in.prices, in.weights, library_hlop, 2); }, {}, 1},
         {[&] { in.stable_sort(in.signed_records); }, {}, 1},
         7},
        {"reference_vs_hlop", "literal reference / Hlop, 10,000 levels", ">= 100",
         {[&] { merge(in.small, in.prices, in.weights, reference::hlop); }, {}, 1},
         {[&] { merge(in.small, in.prices, in.weights, library_hlop); }, {}, 200},
         3},
        {"check_level_vs_sum", "CheckLevel, 1,000,000 levels, no match / vectorised sum", "<= 1.5",
         {[&] { sink = e.check_level(0, 0, kBeyondPrice, kBeyondTolerance, in.level_array.data(), kMillion); },
          {}, 40},
         {[&] { sink = static_cast<int64_t>(vector_sum(in.level_array.data(), kMillion)); }, {}, 40},
         9},
        {"check_level_unsorted_vs_sum", "CheckLevel, price among unsorted levels / vectorised sum", "<= 1.3",
         {[&] { sink = e.check_level(0, 0, kAmongPrice, kAmongTolerance, in.level_array.data(), kMillion); },
          {}, 40},
         {[&] { sink = static_cast<int64_t>(vector_sum(in.level_array.data(), kMillion)); }, {}, 40},
         9},
        {"resize_vs_loop", "Resize, 1,000,000 weights / multiply-and-truncate loop", "<= 1.5",
         {[&] { e.resize(0, 0, kSpan, in.weight_work.data(), kMillion); }, fresh_weights, 20},
         {[&] { multiply_truncate(in.weight_work.data(), kMillion, (kSpan - 1) / 999999.0); }, fresh_weights, 20},
         9},
        {"up_fractal_guard", "CheckUpFractal, depth 2, export / routine without the guard", "<= 1.3",
         {[&in, up_export] {
              int64_t sum = 0;
              for (int i = 0; i < kBatch; ++i) sum += up_export(0, 0, in.bars.data(), 2, 64);
              sink = sum;
          },
          {}, 2000},
         {[&in, up_routine] {
              int64_t sum = 0;
              for (int i = 0; i < kBatch; ++i) sum += up_routine(in.bars.data(), 2, 64);
              sink = sum;
          },
          {}, 2000},
         9, kBatch},
        {"check_level_guard", "CheckLevel, 8 levels, export / routine without the guard", "<= 1.3",
         {[level_export] {
              int64_t sum = 0;
              for (int i = 0; i < kBatch; ++i) sum += level_export(0, 0, 150.0, 0.5, kEightLevels, 8);
              sink = sum;
          },
          {}, 2000},
         {[level_routine] {
              int64_t sum = 0;
              for (int i = 0; i < kBatch; ++i) sum += level_routine(150.0, 0.5, kEightLevels, 8);
              sink = sum;
          },
          {}, 2000},
         9, kBatch},
    };
}

}  // namespace

int main(int argc, char** argv) {
    // --quick: one short round of each, to see that the program works.
    const bool quick = argc > 1 && std::string_view(argv[1]) == "--quick";
    host::exports();  // a library that cannot be used ends the run here, saying why
    Inputs inputs;
    std::vector<Ratio> all = ratios(inputs);
    std::vector<double> values;
    for (Ratio& r : all) {
        double top = 1e30;
        double bottom = 1e30;
        const int rounds = quick ? 1 : r.rounds;
        const long scale = quick ? 100 : 1;
        for (int round = 0; round < rounds; ++round) {
            top = std::min(top, time_calls(r.numerator.body, r.numerator.prepare,
                                           std::max(1L, r.numerator.calls / scale)));
            bottom = std::min(bottom, time_calls(r.denominator.body, r.denominator.prepare,
                                                 std::max(1L, r.denominator.calls / scale)));
        }
        // Per call of the routine, for the short ones batched.
        top /= r.batch;
        bottom /= r.batch;
        values.push_back(top / bottom);
        std::printf("ratio %s %.4f %.6g %.6g\n", r.key, top / bottom, top, bottom);
        std::fflush(stdout);
    }
    std::printf("\nGoals (fastest of alternating rounds, wall time):\n");
    for (std::size_t i = 0; i < all.size(); ++i)
        std::printf("  %-64s %9.2f   goal %s\n", all[i].what, values[i], all[i].goal);
    return 0;
}
