// The suites' main: the library is loaded before the first test, so that a
// library that cannot be used stops the run at once with the reason.
#include <gtest/gtest.h>

#include "host.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    host::exports();
    return RUN_ALL_TESTS();
}
