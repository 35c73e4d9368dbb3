// Whether the 256-bit AVX registers may be used: the processor has them and
// the system saves them on a thread switch. Asked on each call that could
// use them, never remembered (the library keeps no state), and never of the
// processor itself: its identification instruction costs microseconds
// inside a virtual machine, while a copy of the answer taken when the
// process started is a read. On Windows that copy is the system's (a
// Windows that does not report AVX, before 10, gets the SSE2 code); in the
// native build it is the compiler runtime's, which checks the system's
// support of the registers too.
#ifndef TIDEMARK_FRAME_WIDE_VECTORS_H
#define TIDEMARK_FRAME_WIDE_VECTORS_H

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tidemark::frame {

inline bool wide_vectors_usable() noexcept {
#if defined(_WIN32)
    return IsProcessorFeaturePresent(PF_AVX_INSTRUCTIONS_AVAILABLE) != 0;
#else
    return __builtin_cpu_supports("avx") != 0;
#endif
}

}  // namespace tidemark::frame

#endif
