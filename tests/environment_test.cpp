// The library inside untidy hosts' floating-point environments: every row of
// the host environment table (host_environment.h) runs the random
// differential cases of every export, each library call made in the host's
// environment, and the stopwatch's calls too. Each call must give the
// literal reference's bits (which the default environment gives), must not
// trap (a trap ends this program), and must leave the host's MXCSR and x87
// control and status words exactly as they were.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "differential.h"
#include "host.h"
#include "host_environment.h"

namespace {

using host_environment::Environment;
using host_environment::kTable;

// Random cases per export and row; TIDEMARK_RANDOM_CASES overrides, as for
// the differential tests themselves.
constexpr long kCasesPerRow = 20000;

long cases_per_row() {
    if (const char* text = std::getenv("TIDEMARK_RANDOM_CASES")) {
        const long n = std::strtol(text, nullptr, 10);
        if (n > 0) return n;
    }
    return kCasesPerRow;
}

// Counts the calls made as the host, and the first call after which the
// host's environment was not what it had been.
struct Host {
    explicit Host(const Environment& e) : env(e) {}

    const Environment& env;
    long calls = 0;
    long changed = 0;
    long not_set = 0;  // calls the test failed to make in the host's environment
    std::string first_change;

    void call(const std::function<void()>& library_call) {
        const host_environment::Seen seen = host_environment::call_in(env, library_call);
        ++calls;
        // Bit 6 of the x87 control word is reserved and reads as 1.
        if (seen.before.mxcsr != env.mxcsr || ((seen.before.x87_control ^ env.x87_control) & ~0x40) != 0)
            ++not_set;
        if (seen.kept()) return;
        if (changed++ == 0) {
            char text[160];
            host_environment::describe(seen, text, sizeof text);
            first_change = text;
        }
    }

    differential::Around around() {
        return [this](const std::function<void()>& library_call) { call(library_call); };
    }
};

// A whole stopwatch life per round, every call as the host: create, start,
// two readings that keep it, a reading that frees it, and both calls on a
// null handle. The readings must be sane and never go back.
long stopwatch_rounds(Host& host, long rounds) {
    const auto& x = host::exports();
    long faults = 0;
    for (long n = 0; n < rounds && faults < 5; ++n) {
        void* timer = nullptr;
        int32_t started = 0;
        double first = -1.0;
        double second = -1.0;
        double last = -1.0;
        int32_t null_start = 1;
        double null_reading = 1.0;
        host.call([&] { timer = x.create_timer(); });
        if (timer == nullptr) {
            ADD_FAILURE() << "CreateTimer gave null in round " << n;
            ++faults;
            continue;
        }
        host.call([&] { started = x.start_timer(timer); });
        host.call([&] { first = x.stop_timer(timer, 0); });
        host.call([&] { second = x.stop_timer(timer, 256); });
        host.call([&] { last = x.stop_timer(timer, 1); });
        host.call([&] { null_start = x.start_timer(nullptr); });
        host.call([&] { null_reading = x.stop_timer(nullptr, 1); });
        const bool sane = started != 0 && std::isfinite(first) && first >= 0.0 && second >= first &&
                          last >= second && last < 60.0 && null_start == 0 && null_reading == 0.0;
        if (!sane) {
            ++faults;
            ADD_FAILURE() << "round " << n << ": started " << started << ", readings " << first << ", "
                          << second << ", " << last << ", null handle " << null_start << "/" << null_reading;
        }
    }
    return faults;
}

TEST(HostEnvironment, EveryRowGivesTheDefaultBitsAndKeepsTheHostsEnvironment) {
    const long cases = cases_per_row();
    for (const Environment& env : kTable) {
        SCOPED_TRACE(env.what);
        // Said before the row runs, so that a trap names its row.
        std::printf("[ host env ] %s\n", env.what);
        std::fflush(stdout);
        Host host(env);
        long per_export = 0;
        for (const differential::Differential* d : differential::kAll) {
            differential::run(*d, host.around(), cases);
            ++per_export;
        }
        const long differential_calls = host.calls;
        stopwatch_rounds(host, cases / 10);
        EXPECT_EQ(host.not_set, 0) << "the test did not set the host's environment";
        EXPECT_EQ(host.changed, 0) << host.changed << " of " << host.calls
                                   << " calls changed the host's environment; the first: " << host.first_change;
        std::printf("[ host env ] %s: %ld random cases (%ld for each of %ld differentials), %ld stopwatch "
                    "calls; environment kept after %ld of %ld calls\n",
                    env.what, cases * per_export, cases, per_export, host.calls - differential_calls,
                    host.calls - host.changed, host.calls);
    }
}

}  // namespace
