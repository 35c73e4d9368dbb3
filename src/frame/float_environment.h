// The floating-point environment an export computes in. Hosts are not tidy:
// some unmask exceptions, change the rounding mode or flush denormals to
// zero, and all of them keep sticky exception flags that the library must
// neither clear nor add to. Every export whose routine runs a floating-point
// instruction holds a DefaultFloatingPoint for the whole call, so that the
// routine computes in the IEEE default environment (round to nearest, every
// exception masked, no flush-to-zero, no denormals-are-zero) and the host
// gets its MXCSR back bit for bit, control and flags. The fractals compare on
// integers and need none.
//
// The x87 unit needs no such care: the library contains no x87 instruction
// but the load of StopTimer's result that the 32-bit calling convention
// requires (an exact load that cannot raise anything for a finite result),
// so the host's x87 control and status words pass through untouched and
// cannot change a result. tests/check_dll_code.sh holds the DLL to that.
#ifndef TIDEMARK_FRAME_FLOAT_ENVIRONMENT_H
#define TIDEMARK_FRAME_FLOAT_ENVIRONMENT_H

#include <cstdint>

namespace tidemark::frame {

#if defined(__x86_64__) || defined(__i386__)

class DefaultFloatingPoint {
public:
    // The volatile asm statements with a memory clobber order the MXCSR
    // accesses against the routine's call, which reads and writes memory;
    // the export itself does no floating-point work that could move ahead.
    DefaultFloatingPoint() noexcept : host_(read()) {
        if ((host_ & ~kFlags) != kDefault) load(kDefault);
    }

    // Reading MXCSR again to see whether the call raised a flag costs as
    // much as the whole read on entry (the store form is microcoded and
    // waits for the floating-point work in flight), loading it back costs
    // far less: so the host's value is always loaded back.
    ~DefaultFloatingPoint() { load(host_); }

    DefaultFloatingPoint(const DefaultFloatingPoint&) = delete;
    DefaultFloatingPoint& operator=(const DefaultFloatingPoint&) = delete;

private:
    static constexpr uint32_t kFlags = 0x3f;       // the sticky exception flags
    static constexpr uint32_t kDefault = 0x1f80;   // all masked, nearest, no FTZ/DAZ

    static uint32_t read() noexcept {
        uint32_t value;
        __asm__ volatile("stmxcsr %0" : "=m"(value) : : "memory");
        return value;
    }

    static void load(uint32_t value) noexcept {
        __asm__ volatile("ldmxcsr %0" : : "m"(value) : "memory");
    }

    uint32_t host_;
};

#else

// Elsewhere the library is only built for development; nothing to guard.
class DefaultFloatingPoint {
public:
    DefaultFloatingPoint() noexcept = default;
};

#endif

}  // namespace tidemark::frame

#endif
