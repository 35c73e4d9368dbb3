// Random differential tests: an export, called through the loader, and its
// literal reference on the same random inputs, case after case, any
// difference reported. Each export's cases are defined beside its other
// tests; kAll lists them, so that a test can also run every export's cases
// under other conditions (a hook around each library call).
#ifndef TIDEMARK_TESTS_DIFFERENTIAL_H
#define TIDEMARK_TESTS_DIFFERENTIAL_H

#include <cstdint>
#include <functional>
#include <string>

#include "random_values.h"

namespace differential {

using Rng = random_values::Rng;

// Wraps one library call (never a reference call): it must run `call`
// exactly once. For instance, to make the call under a host's floating-point
// environment and restore the test's own afterwards.
using Around = std::function<void(const std::function<void()>& call)>;

// Makes one library call through `around`, or directly when there is none.
template <class Call>
void call(const Around& around, const Call& library_call) {
    if (around) around(library_call);
    else library_call();
}

// One random case: draws its inputs from rng, runs the library (through
// call(around, ...)) and the reference, and returns "" when they agree, else
// what differs. A case draws the same numbers whatever the outcome, so the
// cases are the same on every run and every platform.
using Case = std::string (*)(Rng& rng, const Around& around);

struct Differential {
    const char* what;  // the cases, in the count line: "random <what> cases compared"
    uint64_t seed;
    long cases;        // how many by default
    Case one;
};

// The random cases of every export, each defined in the export's test file.
extern const Differential kCheckLevel;
extern const Differential kHlop;
extern const Differential kResize;
extern const Differential kFractals;  // CheckUpFractal and CheckDownFractal on the same bars
inline const Differential* const kAll[] = {&kCheckLevel, &kHlop, &kResize, &kFractals};

// Runs d's cases from d's seed: `cases` of them when above 0, else
// TIDEMARK_RANDOM_CASES when set (for longer soak runs), else d.cases. Each
// library call goes through `around`. Reports the first five differences as
// test failures, stops there, and prints the count line. Returns the number
// of differences.
long run(const Differential& d, const Around& around = {}, long cases = 0);

}  // namespace differential

#endif
