// The floating-point environments untidy hosts call the library in, and a
// way to call an export in one of them: set the host's environment, make
// the one call, read the environment back and return to the default, with
// nothing of the caller's own in between. Used by the environment-table
// test and by the fuzz targets. x86 only (where the library's guard acts).
#ifndef TIDEMARK_TESTS_HOST_ENVIRONMENT_H
#define TIDEMARK_TESTS_HOST_ENVIRONMENT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace host_environment {

constexpr uint32_t kDefaultMxcsr = 0x1f80;    // all masked, nearest, no FTZ/DAZ
constexpr uint16_t kDefaultX87 = 0x037f;      // all masked, nearest, 64-bit precision

struct Environment {
    const char* what;
    uint32_t mxcsr;
    uint16_t x87_control;  // only on 32-bit x86, where the x87 unit returns doubles
};

// The tidy host first, whose clear flags must stay clear; then each row
// changes one thing a real host changes. MXCSR: exceptions unmasked as
// development runtimes start programs, the three other rounding
// modes, flush-to-zero with denormals-are-zero and each of the two alone (a
// guard that tested only one of those bits would take the other for the
// default), every exception unmasked,
// and every sticky flag already raised. x87 control words: invalid, zero
// divide and overflow unmasked at extended or double precision, denormal
// operand unmasked, single precision, rounding toward zero.
constexpr Environment kTable[] = {
    {"MXCSR 0x1f80: the default, no flag raised", kDefaultMxcsr, kDefaultX87},
    {"MXCSR 0x1900: invalid, zero divide, overflow unmasked", 0x1900, kDefaultX87},
    {"MXCSR 0x1d00: invalid, zero divide unmasked", 0x1d00, kDefaultX87},
    {"MXCSR 0x3f80: round down", 0x3f80, kDefaultX87},
    {"MXCSR 0x5f80: round up", 0x5f80, kDefaultX87},
    {"MXCSR 0x7f80: round toward zero", 0x7f80, kDefaultX87},
    {"MXCSR 0x9fc0: flush to zero, denormals are zero", 0x9fc0, kDefaultX87},
    {"MXCSR 0x1fc0: denormals are zero only", 0x1fc0, kDefaultX87},
    {"MXCSR 0x9f80: flush to zero only", 0x9f80, kDefaultX87},
    {"MXCSR 0x0000: every exception unmasked", 0x0000, kDefaultX87},
    {"MXCSR 0x1fbf: every sticky flag raised", 0x1fbf, kDefaultX87},
#if defined(__i386__)
    {"x87 0x1332: invalid, zero divide, overflow unmasked", kDefaultMxcsr, 0x1332},
    {"x87 0x0372: invalid, zero divide, overflow unmasked, 64-bit", kDefaultMxcsr, 0x0372},
    {"x87 0x027d: denormal unmasked, 53-bit", kDefaultMxcsr, 0x027d},
    {"x87 0x007f: 24-bit precision", kDefaultMxcsr, 0x007f},
    {"x87 0x0e7f: round toward zero, 53-bit", kDefaultMxcsr, 0x0e7f},
#endif
};
constexpr std::size_t kRows = sizeof kTable / sizeof kTable[0];

struct State {
    uint32_t mxcsr;
    uint16_t x87_control;
    uint16_t x87_status;
};

inline uint32_t read_mxcsr() {
    uint32_t value;
    __asm__ volatile("stmxcsr %0" : "=m"(value) : : "memory");
    return value;
}

inline void load_mxcsr(uint32_t value) { __asm__ volatile("ldmxcsr %0" : : "m"(value) : "memory"); }

inline State read_state() {
    State s{};
    s.mxcsr = read_mxcsr();
    __asm__ volatile("fnstcw %0" : "=m"(s.x87_control) : : "memory");
    __asm__ volatile("fnstsw %0" : "=m"(s.x87_status) : : "memory");
    return s;
}

// Clears the x87 flags first: loading a control word that unmasks a flag
// already raised would make the next x87 instruction fault.
inline void load_state(uint32_t mxcsr, uint16_t x87_control) {
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(x87_control) : "memory");
    load_mxcsr(mxcsr);
}

inline void load_default() { load_state(kDefaultMxcsr, kDefaultX87); }

inline bool same(const State& a, const State& b) {
    return a.mxcsr == b.mxcsr && a.x87_control == b.x87_control && a.x87_status == b.x87_status;
}

// The host's state before the call and after it.
struct Seen {
    State before;
    State after;
    bool kept() const { return same(before, after); }
};

// Calls `call()` in `env` and returns to the default environment. Nothing
// of the caller's runs between loading the environment and the call, nor
// between the call and reading it back, except moving arguments and the
// result (no arithmetic). Not inlined, so that the compiler cannot move the
// caller's floating-point work into the window.
template <class Call>
__attribute__((noinline)) Seen call_in(const Environment& env, Call&& call) {
    Seen seen{};
    load_state(env.mxcsr, env.x87_control);
    seen.before = read_state();
    call();
    seen.after = read_state();
    load_default();
    return seen;
}

inline void describe(const Seen& seen, char* text, std::size_t size) {
    std::snprintf(text, size, "MXCSR %#x -> %#x, x87 control %#x -> %#x, x87 status %#x -> %#x",
                  seen.before.mxcsr, seen.after.mxcsr, seen.before.x87_control, seen.after.x87_control,
                  seen.before.x87_status, seen.after.x87_status);
}

}  // namespace host_environment

#endif
