#include "differential.h"

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

namespace differential {
namespace {

long case_count(long fallback) {
    if (const char* text = std::getenv("TIDEMARK_RANDOM_CASES")) {
        const long n = std::strtol(text, nullptr, 10);
        if (n > 0) return n;
    }
    return fallback;
}

}  // namespace

long run(const Differential& d, const Around& around, long cases) {
    const long total = cases > 0 ? cases : case_count(d.cases);
    Rng rng(d.seed);
    long differences = 0;
    for (long n = 0; n < total && differences < 5; ++n) {
        const std::string difference = d.one(rng, around);
        if (difference.empty()) continue;
        ++differences;
        ADD_FAILURE() << "random " << d.what << " case " << n << ": " << difference;
    }
    EXPECT_EQ(differences, 0);
    testing::Test::RecordProperty("random_cases", std::to_string(total));
    std::printf("[ random   ] %ld random %s cases compared\n", total, d.what);
    return differences;
}

}  // namespace differential
