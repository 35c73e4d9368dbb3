// The suites' main: the library is loaded before the first test, so that a
// library that cannot be used stops the run at once with the reason.
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "host.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Each run's differential digests start a fresh file.
    if (const char* digests = std::getenv("TIDEMARK_DIGESTS"); digests != nullptr && *digests != '\0') {
        if (std::FILE* f = std::fopen(digests, "w")) std::fclose(f);
    }
    host::exports();
    return RUN_ALL_TESTS();
}
