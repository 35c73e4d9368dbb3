// The number of blocks the loaded library has taken from the C runtime and
// not given back, where the test program can count them: under Wine through
// the library's imports of malloc and free, natively in the allocation-fault
// program, which replaces both. Elsewhere (the plain and sanitizer test
// programs) there is no count, and LeakSanitizer checks at exit instead.
#ifndef TIDEMARK_TESTS_LIBRARY_ALLOCATIONS_H
#define TIDEMARK_TESTS_LIBRARY_ALLOCATIONS_H

namespace library_allocations {

// Sets `live` and returns true where the program can count.
bool live_blocks(long& live);

}  // namespace library_allocations

#endif
