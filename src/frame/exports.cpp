// The exported entry points. Each one only forwards to the routine that owns
// the logic; the reserved arguments are part of the calling convention and
// deliberately ignored.
#include "tidemark.h"

#include "bars/fractal.h"
#include "levels/check_level.h"
#include "levels/hlop.h"
#include "levels/resize.h"
#include "timing/stopwatch.h"

extern "C" {

TM_API int32_t TM_CALL CheckLevel(int32_t /*reserved1*/, int32_t /*reserved2*/, double price,
                                  double tolerance, const double* prices, int32_t count) {
    return tidemark::levels::check_level(price, tolerance, prices, count);
}

TM_API void TM_CALL Hlop(int32_t /*reserved1*/, int32_t /*reserved2*/, double* prices,
                         int32_t* weights, const int32_t* /*tags*/, int32_t count,
                         double tolerance, int32_t mode) {
    // Tags only ride along with their levels and are never written back, so
    // the merge does not need them.
    tidemark::levels::hlop(prices, weights, count, tolerance, mode);
}

TM_API void TM_CALL Resize(int32_t /*reserved1*/, int32_t /*reserved2*/, int32_t span,
                           int32_t* weights, int32_t count) {
    tidemark::levels::resize(span, weights, count);
}

TM_API void* TM_CALL CreateTimer(void) { return tidemark::timing::create_timer(); }

TM_API int32_t TM_CALL StartTimer(void* timer) { return tidemark::timing::start_timer(timer); }

TM_API double TM_CALL StopTimer(void* timer, int32_t release) {
    return tidemark::timing::stop_timer(timer, release);
}

TM_API int32_t TM_CALL CheckUpFractal(int32_t /*reserved1*/, int32_t /*reserved2*/,
                                      const BarRecord* bars, int32_t depth, int32_t shift) {
    return tidemark::bars::check_up_fractal(bars, depth, shift);
}

TM_API int32_t TM_CALL CheckDownFractal(int32_t /*reserved1*/, int32_t /*reserved2*/,
                                        const BarRecord* bars, int32_t depth, int32_t shift) {
    return tidemark::bars::check_down_fractal(bars, depth, shift);
}

}  // extern "C"
