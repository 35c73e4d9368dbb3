// The exported entry points. Each one only forwards to the routine that owns
// the logic; the reserved arguments are part of the calling convention and
// deliberately ignored.
#include "tidemark.h"

#include "levels/hlop.h"
#include "timing/stopwatch.h"

extern "C" {

TM_API void TM_CALL Hlop(int32_t /*reserved1*/, int32_t /*reserved2*/, double* prices,
                         int32_t* weights, const int32_t* /*tags*/, int32_t count,
                         double tolerance, int32_t mode) {
    // Tags only ride along with their levels and are never written back, so
    // the merge does not need them.
    tidemark::levels::merge_levels(prices, weights, count, tolerance, mode);
}

TM_API void* TM_CALL CreateTimer(void) { return tidemark::timing::create_timer(); }

TM_API int32_t TM_CALL StartTimer(void* timer) { return tidemark::timing::start_timer(timer); }

TM_API double TM_CALL StopTimer(void* timer, int32_t release) {
    return tidemark::timing::stop_timer(timer, release);
}

}  // extern "C"
