// Whether the 256-bit AVX registers may be used: the processor has them and
// the system saves them on a thread switch. Asked of the system on each call
// that could use them, never remembered (the library keeps no state), and
// never of the processor itself: its identification instruction costs
// microseconds inside a virtual machine, while the system's copy of the
// answer is a read. A system that does not say (Windows before 10, a C
// library without the query) gets the SSE2 code.
#ifndef TIDEMARK_FRAME_WIDE_VECTORS_H
#define TIDEMARK_FRAME_WIDE_VECTORS_H

#if defined(_WIN32)
#include <windows.h>
#elif defined(__linux__)
#include <features.h>
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
#include <sys/platform/x86.h>
#endif
#endif

namespace tidemark::frame {

inline bool wide_vectors_usable() noexcept {
#if defined(_WIN32)
    return IsProcessorFeaturePresent(PF_AVX_INSTRUCTIONS_AVAILABLE) != 0;
#elif defined(CPU_FEATURE_ACTIVE)
    return CPU_FEATURE_ACTIVE(AVX);
#else
    return false;
#endif
}

}  // namespace tidemark::frame

#endif
