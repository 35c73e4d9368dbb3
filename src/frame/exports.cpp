// The exported entry points. Each one only forwards to the routine that owns
// the logic, inside the default floating-point environment (see
// float_environment.h) unless the routine uses no floating-point instruction
// at all (CheckLevel tries such a routine first); the reserved arguments are
// part of the calling convention and deliberately ignored.
#include "tidemark.h"

#include "bars/fractal.h"
#include "frame/float_environment.h"
#include "levels/check_level.h"
#include "levels/hlop.h"
#include "levels/resize.h"
#include "timing/stopwatch.h"

using tidemark::frame::DefaultFloatingPoint;

namespace {

// The lookups that need floating-point arithmetic. A function of its own,
// so that the guard's MXCSR accesses are paid only on this path.
__attribute__((noinline)) int32_t check_level_guarded(double price, double tolerance, const double* prices,
                                                      int32_t count) noexcept {
    const DefaultFloatingPoint fp;
    return tidemark::levels::check_level(price, tolerance, prices, count);
}

}  // namespace

extern "C" {

TM_API int32_t TM_CALL CheckLevel(int32_t /*reserved1*/, int32_t /*reserved2*/, double price,
                                  double tolerance, const double* prices, int32_t count) {
    // A host calls this on every tick, mostly with a few levels, where the
    // guard's read of MXCSR would cost more than the lookup: such calls are
    // answered on the numbers' bits, which no host setting can reach.
    const int32_t found = tidemark::levels::check_level_on_bits(price, tolerance, prices, count);
    if (found != tidemark::levels::kUndecided) return found;
    return check_level_guarded(price, tolerance, prices, count);
}

TM_API void TM_CALL Hlop(int32_t /*reserved1*/, int32_t /*reserved2*/, double* prices,
                         int32_t* weights, const int32_t* /*tags*/, int32_t count,
                         double tolerance, int32_t mode) {
    // Tags only ride along with their levels and are never written back, so
    // the merge does not need them.
    const DefaultFloatingPoint fp;
    tidemark::levels::hlop(prices, weights, count, tolerance, mode);
}

TM_API void TM_CALL Resize(int32_t /*reserved1*/, int32_t /*reserved2*/, int32_t span,
                           int32_t* weights, int32_t count) {
    const DefaultFloatingPoint fp;
    tidemark::levels::resize(span, weights, count);
}

TM_API void* TM_CALL CreateTimer(void) {
    const DefaultFloatingPoint fp;
    return tidemark::timing::create_timer();
}

TM_API int32_t TM_CALL StartTimer(void* timer) {
    const DefaultFloatingPoint fp;
    return tidemark::timing::start_timer(timer);
}

TM_API double TM_CALL StopTimer(void* timer, int32_t release) {
    double elapsed = 0.0;
    {
        const DefaultFloatingPoint fp;
        tidemark::timing::stop_timer(timer, release, elapsed);
    }
    // On 32-bit x86 this is the library's one x87 instruction: the load of
    // the result into ST(0), exact and after the host's MXCSR is back.
    return elapsed;
}

TM_API int32_t TM_CALL CheckUpFractal(int32_t /*reserved1*/, int32_t /*reserved2*/,
                                      const BarRecord* bars, int32_t depth, int32_t shift) {
    // No guard: the fractals compare on integers and run no floating-point
    // instruction (check_dll_code.sh holds them to that), and reading MXCSR
    // would cost more than the whole call.
    return tidemark::bars::check_up_fractal(bars, depth, shift);
}

TM_API int32_t TM_CALL CheckDownFractal(int32_t /*reserved1*/, int32_t /*reserved2*/,
                                        const BarRecord* bars, int32_t depth, int32_t shift) {
    // No guard, as for CheckUpFractal.
    return tidemark::bars::check_down_fractal(bars, depth, shift);
}

}  // extern "C"
