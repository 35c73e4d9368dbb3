// Benchmarks for every export, called as a host calls them (the library is
// loaded by file name), next to the floors they are judged against: a stable
// sort of the same records for Hlop, the literal reference for Hlop at small
// sizes, a vectorised sum for CheckLevel and a multiply-and-truncate loop for
// Resize. The run ends with the ratios of the performance goals, computed
// from this run's own measurements.
#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "bars/fractal.h"
#include "host.h"
#include "levels/check_level.h"
#include "reference.h"
#include "workloads.h"

namespace {

using namespace workloads;

// ---------------------------------------------------------------------------
// Hlop

int32_t survivors(const std::vector<double>& prices, const std::vector<int32_t>& weights) {
    // Zeroed slots follow the survivors; a survivor with price 0 and weight
    // 0 is rare enough with these inputs not to matter for a share.
    int32_t n = 0;
    while (n < static_cast<int32_t>(prices.size()) && (prices[n] != 0.0 || weights[n] != 0)) ++n;
    return n;
}

// Every iteration copies the input into the working arrays (Hlop rewrites
// them); the floors below copy theirs too.
template <class Merge>
void run_merge(benchmark::State& state, Shape shape, int32_t mode, Merge merge) {
    const int32_t count = static_cast<int32_t>(state.range(0));
    const Levels input = make_levels(shape, count);
    std::vector<double> prices(count);
    std::vector<int32_t> weights(count);
    for (auto _ : state) {
        std::copy(input.prices.begin(), input.prices.end(), prices.begin());
        std::copy(input.weights.begin(), input.weights.end(), weights.begin());
        merge(prices.data(), weights.data(), input.tags.data(), count, input.tolerance, mode);
        benchmark::ClobberMemory();
    }
    state.counters["survivors"] = static_cast<double>(survivors(prices, weights)) / count;
    state.SetItemsProcessed(state.iterations() * count);
}

void bm_hlop(benchmark::State& state, Shape shape, int32_t mode) {
    const auto hlop = host::exports().hlop;
    run_merge(state, shape, mode,
              [hlop](double* p, int32_t* w, const int32_t* t, int32_t n, double tol, int32_t mode) {
                  hlop(0, 0, p, w, t, n, tol, mode);
              });
}

void bm_hlop_reference(benchmark::State& state) {
    run_merge(state, Shape::kRandom, 1, reference::hlop);
}

// The floor for Hlop: a stable sort of the same levels as records.
void bm_stable_sort(benchmark::State& state, Shape shape) {
    const int32_t count = static_cast<int32_t>(state.range(0));
    const Levels input = make_levels(shape, count);
    std::vector<Record> records(count);
    for (int32_t i = 0; i < count; ++i) records[i] = {input.prices[i], input.weights[i], input.tags[i]};
    std::vector<Record> work(count);
    for (auto _ : state) {
        std::copy(records.begin(), records.end(), work.begin());
        std::stable_sort(work.begin(), work.end(),
                         [](const Record& a, const Record& b) { return a.price < b.price; });
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

// ---------------------------------------------------------------------------
// CheckLevel and Resize over a million elements

// Where the price stands against the levels: beyond all of them (the goal's
// case), or among them with the levels sorted (as Hlop returns them) or in
// random order, where most blocks of levels straddle the price.
enum class Among { kBeyond, kSorted, kUnsorted };

void bm_check_level(benchmark::State& state, Among among) {
    const auto check_level = host::exports().check_level;
    std::vector<double> prices = level_prices();
    if (among == Among::kSorted) std::sort(prices.begin(), prices.end());
    const double price = among == Among::kBeyond ? kBeyondPrice : kAmongPrice;
    const double tolerance = among == Among::kBeyond ? kBeyondTolerance : kAmongTolerance;
    if (check_level(0, 0, price, tolerance, prices.data(), kMillion) != -1) {
        state.SkipWithError("a level matches: the scan would stop early");
        return;
    }
    for (auto _ : state) {
        int32_t found = check_level(0, 0, price, tolerance, prices.data(), kMillion);
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(state.iterations() * kMillion * int64_t{sizeof(double)});
}

// The floor for CheckLevel: an SSE2 sum over the same array.
void bm_vector_sum(benchmark::State& state) {
    const std::vector<double> prices = level_prices();
    for (auto _ : state) {
        double total = vector_sum(prices.data(), kMillion);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * kMillion * int64_t{sizeof(double)});
}

// Resize and its floors rewrite the weights, so each iteration runs `pass`
// on a fresh copy, made outside the timed region.
template <class Pass>
void on_fresh_weights(benchmark::State& state, Pass pass) {
    const std::vector<int32_t> input = level_weights();
    std::vector<int32_t> weights(kMillion);
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(input.begin(), input.end(), weights.begin());
        state.ResumeTiming();
        pass(weights.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kMillion * int64_t{sizeof(int32_t)});
}

void bm_resize(benchmark::State& state) {
    const auto resize = host::exports().resize;
    on_fresh_weights(state, [resize](int32_t* weights) { resize(0, 0, kSpan, weights, kMillion); });
}

// The same by hand with SSE2, for perspective.
__attribute__((noinline)) void multiply_truncate_sse2(int32_t* weights, int32_t count, double factor) {
    const __m128d f = _mm_set1_pd(factor);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + i));
        const __m128d low = _mm_mul_pd(_mm_cvtepi32_pd(w), f);
        const __m128d high = _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(w, 0xee)), f);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(weights + i),
                         _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high)));
    }
    for (; i < count; ++i) weights[i] = static_cast<int32_t>(weights[i] * factor);
}

template <void (*kLoop)(int32_t*, int32_t, double)>
void bm_multiply_truncate(benchmark::State& state) {
    on_fresh_weights(state, [](int32_t* weights) { kLoop(weights, kMillion, (kSpan - 1) / 999999.0); });
}

// ---------------------------------------------------------------------------
// Fractals and the stopwatch

template <bool kUp>
void bm_fractal(benchmark::State& state) {
    const auto fractal = kUp ? host::exports().check_up_fractal : host::exports().check_down_fractal;
    const int32_t depth = static_cast<int32_t>(state.range(0));
    constexpr int32_t kCentre = 64;
    const std::vector<BarRecord> bars = fractal_bars(kCentre);
    for (auto _ : state) {
        int32_t strength = fractal(0, 0, bars.data(), depth, kCentre);
        benchmark::DoNotOptimize(strength);
    }
}

// ---------------------------------------------------------------------------
// The floating-point guard: short calls through the export, against the
// same routine (its source built into this program) called without the
// guard, through a function pointer as the export is. CheckLevel's export
// answers such a call on the numbers' bits instead of taking the guard: it
// is timed against the floating-point routine unguarded, what an export
// that ignored the host's environment would cost.

using UpFractal = int32_t (*)(const BarRecord*, int32_t, int32_t) noexcept;
using CheckLevelRoutine = int32_t (*)(double, double, const double*, int32_t) noexcept;

void bm_up_fractal_unguarded(benchmark::State& state) {
    // Read through a volatile so that the compiler cannot inline the call.
    static volatile UpFractal routine = tidemark::bars::check_up_fractal;
    const UpFractal up = routine;
    const int32_t depth = static_cast<int32_t>(state.range(0));
    constexpr int32_t kCentre = 64;
    const std::vector<BarRecord> bars = fractal_bars(kCentre);
    for (auto _ : state) {
        int32_t strength = up(bars.data(), depth, kCentre);
        benchmark::DoNotOptimize(strength);
    }
}

void bm_check_level_eight(benchmark::State& state) {
    const auto check_level = host::exports().check_level;
    for (auto _ : state) {
        int32_t found = check_level(0, 0, 150.0, 0.5, kEightLevels, 8);
        benchmark::DoNotOptimize(found);
    }
}

void bm_check_level_eight_unguarded(benchmark::State& state) {
    static volatile CheckLevelRoutine routine = tidemark::levels::check_level;
    const CheckLevelRoutine find = routine;
    for (auto _ : state) {
        int32_t found = find(150.0, 0.5, kEightLevels, 8);
        benchmark::DoNotOptimize(found);
    }
}

void bm_start_stop(benchmark::State& state) {
    const auto create = host::exports().create_timer;
    const auto start = host::exports().start_timer;
    const auto stop = host::exports().stop_timer;
    void* timer = create();
    if (timer == nullptr) {
        state.SkipWithError("CreateTimer returned null");
        return;
    }
    for (auto _ : state) {
        int32_t started = start(timer);
        double seconds = stop(timer, 0);
        benchmark::DoNotOptimize(started);
        benchmark::DoNotOptimize(seconds);
    }
    stop(timer, 1);
}

// ---------------------------------------------------------------------------
// The goals, from this run's measurements

// Prints the usual console table and keeps each benchmark's CPU time per
// iteration, in seconds, for the ratios: on a shared machine the wall clock
// also counts the time other processes hold the core.
class Recorder : public benchmark::ConsoleReporter {
public:
    explicit Recorder(bool colour)
        : ConsoleReporter(colour ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            seconds_[run.benchmark_name()] =
                run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
    }
    const double* seconds(const std::string& name) const {
        const auto it = seconds_.find(name);
        return it == seconds_.end() ? nullptr : &it->second;
    }

private:
    std::map<std::string, double> seconds_;
};

struct Goal {
    const char* what;
    const char* numerator;
    const char* denominator;
    bool at_most;  // ratio <= limit, else ratio >= limit
    double limit;
};

const Goal kGoals[] = {
    {"Hlop, 1,000,000 levels / std::stable_sort of the same records", "Hlop/random/1000000",
     "StableSortFloor/1000000", true, 3.0},
    {"Hlop, every input class, 1,000,000 levels / stable_sort of its records:", nullptr, nullptr, true, 0.0},
    {"  random, mode 1", "Hlop/random/1000000", "StableSortFloor/1000000", true, 1.5},
    {"  all prices equal", "Hlop/equal_prices/1000000", "StableSortFloor/equal_prices/1000000", true, 1.5},
    {"  all gaps equal, shuffled", "Hlop/equal_gaps/1000000", "StableSortFloor/equal_gaps/1000000", true, 1.5},
    {"  random, mode 2", "Hlop/random_mode2/1000000", "StableSortFloor/1000000", true, 1.5},
    {"  signed weights, mode 2 (merged prices leave their pairs)", "Hlop/signed_weights_mode2/1000000",
     "StableSortFloor/signed_weights/1000000", true, 1.5},
    {"literal reference / Hlop, 10,000 levels", "HlopReference/random/10000", "Hlop/random/10000",
     false, 100.0},
    {"CheckLevel, 1,000,000 levels, no match / vectorised sum", "CheckLevel/1000000",
     "VectorSumFloor/1000000", true, 1.5},
    {"CheckLevel, price among unsorted levels / vectorised sum", "CheckLevel/among_unsorted/1000000",
     "VectorSumFloor/1000000", true, 1.3},
    {"Resize, 1,000,000 weights / multiply-and-truncate loop", "Resize/1000000",
     "MultiplyTruncateFloor/1000000", true, 1.5},
};

// The guard's cost in the default environment.
const Goal kGuard[] = {
    {"CheckUpFractal, depth 2, export / routine without the guard", "CheckUpFractal/2",
     "CheckUpFractalUnguarded/2", true, 1.3},
    {"CheckLevel, 8 levels, export / routine without the guard", "CheckLevel/8", "CheckLevelUnguarded/8",
     true, 1.3},
};

// Not goals, for perspective: sorted levels, and against a hand-vectorised
// multiply-and-truncate pass.
const Goal kAlso[] = {
    {"CheckLevel, price among sorted levels / vectorised sum", "CheckLevel/among_sorted/1000000",
     "VectorSumFloor/1000000", true, 0.0},
    {"Resize, 1,000,000 weights / SSE2 multiply-and-truncate", "Resize/1000000",
     "MultiplyTruncateSSE2/1000000", true, 0.0},
};

// Prints one ratio; a limit of 0 means no goal, and a goal without sides is
// a heading.
void print_ratio(const Recorder& recorder, const Goal& goal) {
    if (goal.numerator == nullptr) {
        std::printf("  %s\n", goal.what);
        return;
    }
    const double* top = recorder.seconds(goal.numerator);
    const double* bottom = recorder.seconds(goal.denominator);
    if (top == nullptr || bottom == nullptr) {
        std::printf("  %-68s   not measured (%s missing)\n", goal.what,
                    top == nullptr ? goal.numerator : goal.denominator);
        return;
    }
    const double ratio = *top / *bottom;
    if (goal.limit == 0.0) {
        std::printf("  %-68s %9.2f\n", goal.what, ratio);
        return;
    }
    const bool met = goal.at_most ? ratio <= goal.limit : ratio >= goal.limit;
    std::printf("  %-68s %9.2f   goal %s %g: %s\n", goal.what, ratio, goal.at_most ? "<=" : ">=",
                goal.limit, met ? "met" : "MISSED");
}

void print_goals(const Recorder& recorder) {
    std::printf("\nGoals (ratios of this run's CPU times):\n");
    for (const Goal& goal : kGoals) print_ratio(recorder, goal);
    for (const Goal& goal : kGuard) print_ratio(recorder, goal);
    std::printf("Also:\n");
    for (const Goal& goal : kAlso) print_ratio(recorder, goal);
}

void register_all() {
    using benchmark::RegisterBenchmark;
    const std::vector<int64_t> sizes = {10, 100, 1000, 10000, 100000, 1000000};
    // Mode 1 unless named. Mode 2 with weights of both signs moves merged
    // prices outside their pairs, which only the general path (the
    // tournament tree) handles.
    const struct {
        const char* name;
        Shape shape;
        int32_t mode;
    } shapes[] = {{"random", Shape::kRandom, 1},
                  {"equal_prices", Shape::kEqualPrices, 1},
                  {"equal_gaps", Shape::kEqualGaps, 1},
                  {"random_mode2", Shape::kRandom, 2},
                  {"signed_weights_mode2", Shape::kSignedWeights, 2}};
    for (const auto& s : shapes) {
        const Shape shape = s.shape;
        const int32_t mode = s.mode;
        for (int64_t n : sizes)
            RegisterBenchmark((std::string("Hlop/") + s.name).c_str(),
                              [shape, mode](benchmark::State& st) { bm_hlop(st, shape, mode); })
                ->Arg(n)
                ->Unit(benchmark::kMicrosecond);
    }
    for (int64_t n : sizes) {
        if (n > 10000) break;
        RegisterBenchmark("HlopReference/random", bm_hlop_reference)->Arg(n)->Unit(benchmark::kMicrosecond);
    }
    // The random class's records at every size; the other input classes'
    // own records at the size of the goals (the random class in mode 2 has
    // the random class's records).
    const struct {
        const char* name;
        Shape shape;
        bool every_size;
    } records[] = {{"StableSortFloor", Shape::kRandom, true},
                   {"StableSortFloor/equal_prices", Shape::kEqualPrices, false},
                   {"StableSortFloor/equal_gaps", Shape::kEqualGaps, false},
                   {"StableSortFloor/signed_weights", Shape::kSignedWeights, false}};
    for (const auto& r : records) {
        const Shape shape = r.shape;
        for (int64_t n : sizes) {
            if (!r.every_size && n != kMillion) continue;
            RegisterBenchmark(r.name, [shape](benchmark::State& st) { bm_stable_sort(st, shape); })
                ->Arg(n)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    const struct {
        const char* name;
        Among among;
    } placements[] = {{"CheckLevel", Among::kBeyond},
                      {"CheckLevel/among_sorted", Among::kSorted},
                      {"CheckLevel/among_unsorted", Among::kUnsorted}};
    for (const auto& placement : placements) {
        const Among among = placement.among;
        RegisterBenchmark(placement.name, [among](benchmark::State& st) { bm_check_level(st, among); })
            ->Arg(kMillion)
            ->Unit(benchmark::kMicrosecond);
    }
    RegisterBenchmark("VectorSumFloor", bm_vector_sum)->Arg(kMillion)->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("Resize", bm_resize)->Arg(kMillion)->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("MultiplyTruncateFloor", bm_multiply_truncate<multiply_truncate>)
        ->Arg(kMillion)
        ->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("MultiplyTruncateSSE2", bm_multiply_truncate<multiply_truncate_sse2>)
        ->Arg(kMillion)
        ->Unit(benchmark::kMicrosecond);
    RegisterBenchmark("CheckUpFractal", bm_fractal<true>)->Arg(2)->Arg(50);
    RegisterBenchmark("CheckDownFractal", bm_fractal<false>)->Arg(2)->Arg(50);
    RegisterBenchmark("CheckUpFractalUnguarded", bm_up_fractal_unguarded)->Arg(2);
    RegisterBenchmark("CheckLevel", bm_check_level_eight)->Arg(8);
    RegisterBenchmark("CheckLevelUnguarded", bm_check_level_eight_unguarded)->Arg(8);
    RegisterBenchmark("StartTimer+StopTimer", bm_start_stop);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    host::exports();  // a library that cannot be used ends the run here, saying why
    register_all();
    Recorder recorder(isatty(fileno(stdout)) != 0);
    benchmark::RunSpecifiedBenchmarks(&recorder);
    print_goals(recorder);
    benchmark::Shutdown();
    return 0;
}
