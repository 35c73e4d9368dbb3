// Eight host threads call every export at once, each on its own arrays, and
// must get exactly what one thread alone gets: the library keeps no state
// that calls could share. scripts/test also runs this under ThreadSanitizer
// (build/tsan), which reports any access two threads make without order.
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host.h"
#include "random_values.h"

namespace {

constexpr int kThreads = 8;

using Results = std::vector<uint64_t>;

void put_bits(Results& out, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    out.push_back(bits);
}
void put_int(Results& out, int64_t i) { out.push_back(static_cast<uint64_t>(i)); }

// One thread's inputs. Every call copies what it may overwrite, so repeated
// rounds see the same inputs.
struct Inputs {
    std::vector<double> prices;
    std::vector<int32_t> weights;
    std::vector<int32_t> tags;
    double tolerance = 0.0;
    int32_t mode = 0;
    // Bar records at an odd offset from an aligned address, as a host's
    // packed array may lie.
    std::vector<unsigned char> bar_bytes;
    size_t bar_offset = 0;
    int32_t bar_count = 0;

    const BarRecord* bars() const { return reinterpret_cast<const BarRecord*>(bar_bytes.data() + bar_offset); }

    explicit Inputs(int index) {
        random_values::Rng rng(0x7e57 + static_cast<uint64_t>(index));
        const int32_t count = 96 + 16 * index;
        for (int32_t i = 0; i < count; ++i) {
            // Mostly ordinary prices, so that merging runs long.
            prices.push_back(random_values::below(rng, 8) == 0
                                 ? random_values::price(rng)
                                 : std::uniform_real_distribution<double>(1.0, 2.0)(rng));
            weights.push_back(static_cast<int32_t>(random_values::below(rng, 100)) - 10);
            tags.push_back(i);
        }
        tolerance = 0.002 * (index + 1);
        mode = index % 3;
        bar_count = count;
        bar_offset = 1 + static_cast<size_t>(index) % 7;
        bar_bytes.resize(bar_offset + sizeof(BarRecord) * static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) {
            BarRecord bar{};
            bar.time = 86400 * (i + 1);
            bar.low = std::floor(prices[static_cast<size_t>(i)] * 16.0) / 16.0;  // ties are common
            bar.high = bar.low + static_cast<double>(weights[static_cast<size_t>(i)] % 4) / 16.0;
            std::memcpy(bar_bytes.data() + bar_offset + sizeof bar * static_cast<size_t>(i), &bar, sizeof bar);
        }
    }
};

struct Row {
    const char* name;
    std::function<void(const Inputs&, Results&)> run;
};

std::vector<Row> rows() {
    const tidemark::loader::Exports x = host::exports();
    return {
        {"merge",
         [=](const Inputs& in, Results& out) {
             for (int32_t mode : {in.mode, 0, 1, 2}) {
                 std::vector<double> prices = in.prices;
                 std::vector<int32_t> weights = in.weights;
                 x.hlop(1, 2, prices.data(), weights.data(), in.tags.data(),
                        static_cast<int32_t>(prices.size()), in.tolerance, mode);
                 for (double p : prices) put_bits(out, p);
                 for (int32_t w : weights) put_int(out, w);
             }
         }},
        {"level lookup",
         [=](const Inputs& in, Results& out) {
             const auto count = static_cast<int32_t>(in.prices.size());
             for (int32_t i = 0; i < count; i += 7) {
                 const double price = in.prices[static_cast<size_t>(i)] + 0.001 * (i % 5);
                 put_int(out, x.check_level(3, 4, price, in.tolerance, in.prices.data(), count));
                 put_int(out, x.check_level(3, 4, price, 0.0, in.prices.data(), count));
             }
         }},
        {"rescale",
         [=](const Inputs& in, Results& out) {
             for (int32_t span : {11, 0, 1, -7, 1000}) {
                 std::vector<int32_t> weights = in.weights;
                 x.resize(5, 6, span, weights.data(), static_cast<int32_t>(weights.size()));
                 for (int32_t w : weights) put_int(out, w);
             }
         }},
        {"up and down fractals",
         [=](const Inputs& in, Results& out) {
             for (int32_t depth : {1, 2, 3, 5, 8}) {
                 for (int32_t shift = depth; shift + depth < in.bar_count; ++shift) {
                     put_int(out, x.check_up_fractal(7, 8, in.bars(), depth, shift));
                     put_int(out, x.check_down_fractal(7, 8, in.bars(), depth, shift));
                 }
             }
         }},
        // Readings differ from run to run; what must hold on every thread is
        // that each stopwatch works and reads sensibly.
        {"stopwatch cycle",
         [=](const Inputs&, Results& out) {
             void* timer = x.create_timer();
             const bool started = timer != nullptr && x.start_timer(timer) != 0;
             const double first = started ? x.stop_timer(timer, 0) : -1.0;
             const double second = started ? x.stop_timer(timer, 256) : -1.0;
             const double last = timer != nullptr ? x.stop_timer(timer, 1) : -1.0;
             put_int(out, int64_t{started && first >= 0.0 && second >= first && last >= second &&
                              std::isfinite(last)});
         }},
    };
}

Results run_rows(const std::vector<Row>& all, const Inputs& in) {
    Results out;
    for (const Row& row : all) {
        row.run(in, out);
        put_int(out, -1);  // row boundary
    }
    return out;
}

TEST(Concurrency, EightThreadsGetSingleThreadedResults) {
    const std::vector<Row> all = rows();

    std::vector<Inputs> inputs;
    std::vector<Results> want;
    for (int t = 0; t < kThreads; ++t) {
        inputs.emplace_back(t);
        want.push_back(run_rows(all, inputs.back()));
    }

    constexpr long rounds = 500;
    std::atomic<int> waiting{kThreads};
    std::vector<long> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Start together, so that the calls really overlap.
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            for (long r = 0; r < rounds; ++r)
                if (run_rows(all, inputs[t]) != want[t]) ++mismatches[t];
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(mismatches[t], 0) << "thread " << t << " of " << rounds << " rounds";
}

}  // namespace
