#include "differential.h"

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

namespace differential {
namespace {

// FNV-1a over every recorded byte of the run in progress.
struct Digest {
    bool on = false;
    uint64_t value = 0;
};
Digest digest;

long case_count(long fallback) {
    if (const char* text = std::getenv("TIDEMARK_RANDOM_CASES")) {
        const long n = std::strtol(text, nullptr, 10);
        if (n > 0) return n;
    }
    return fallback;
}

}  // namespace

void record(const void* data, std::size_t size) {
    if (!digest.on) return;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) digest.value = (digest.value ^ bytes[i]) * 0x100000001b3ull;
}

long run(const Differential& d, const Around& around, long cases) {
    const long total = cases > 0 ? cases : case_count(d.cases);
    Rng rng(d.seed);
    long differences = 0;
    digest = Digest{true, 0xcbf29ce484222325ull};
    for (long n = 0; n < total && differences < 5; ++n) {
        const std::string difference = d.one(rng, around);
        if (difference.empty()) continue;
        ++differences;
        ADD_FAILURE() << "random " << d.what << " case " << n << ": " << difference;
    }
    EXPECT_EQ(differences, 0);
    testing::Test::RecordProperty("random_cases", std::to_string(total));
    digest.on = false;
    std::printf("[ random   ] %ld random %s cases compared, library results digest %016llx\n", total, d.what,
                static_cast<unsigned long long>(digest.value));
    if (const char* path = std::getenv("TIDEMARK_DIGESTS"); path != nullptr && *path != '\0') {
        if (std::FILE* out = std::fopen(path, "a")) {
            std::fprintf(out, "%s %ld %016llx\n", d.what, total, static_cast<unsigned long long>(digest.value));
            std::fclose(out);
        }
    }
    return differences;
}

}  // namespace differential
