// Calls an export through an assembly thunk that passes the arguments as a
// Windows host does and checks what the callee must keep.
//   32-bit x86 (stdcall_probe.S): the arguments pushed at a chosen stack
//   alignment; the callee must remove exactly its argument bytes and keep
//   EBX, ESI and EDI. A double comes back in ST(0).
//   x64 (ms_x64_probe.S): the Microsoft x64 convention, the first four
//   arguments in RCX, RDX, R8, R9 or XMM0-XMM3 by position, the rest on the
//   stack above the 32-byte home space; the callee must keep RBX, RBP, RDI,
//   RSI, R12-R15 and XMM6-XMM15 and give RSP back. The probe fills what the
//   callee must not read (the upper half of a 32-bit argument, the other
//   register of each position) with garbage. A double comes back in XMM0.
#ifndef TIDEMARK_TESTS_WIN32_PROBE_H
#define TIDEMARK_TESTS_WIN32_PROBE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace win32_probe {

// What the callee may see in bits it must not read.
constexpr uint64_t kGarbage = 0xdeadbeefbaadf00dull;

#if defined(__i386__)

struct Probe {
    const void* fn;
    const uint32_t* args;
    uint32_t words;
    uint32_t entry_offset;
    uint32_t esp_before;
    uint32_t esp_after;
    uint32_t returns_double;
    uint32_t eax;
    uint32_t edx;
    uint32_t ebx;
    uint32_t esi;
    uint32_t edi;
    double st0;
};
static_assert(offsetof(Probe, esp_before) == 16, "layout shared with stdcall_probe.S");
static_assert(offsetof(Probe, edi) == 44, "layout shared with stdcall_probe.S");
static_assert(offsetof(Probe, st0) == 48, "layout shared with stdcall_probe.S");

extern "C" void tm_stdcall_probe(Probe* probe);

// ESP % 16 at the callee's first instruction: hosts may enter with any
// 4-byte alignment.
constexpr uint32_t kEntryOffsets[] = {0, 4, 8, 12};

#elif defined(__x86_64__)

struct Probe {
    const void* fn;
    const uint64_t* slots;
    uint64_t slot_count;
    uint64_t gp[4];   // RCX, RDX, R8, R9
    uint64_t xmm[4];  // XMM0-XMM3, low 8 bytes
    uint64_t rsp_before;
    uint64_t rsp_after;
    uint64_t rax;
    uint64_t xmm0;
    uint64_t rbx, rbp, rdi, rsi, r12, r13, r14, r15;
    uint32_t xmm6_15[10][4];
};
static_assert(offsetof(Probe, gp) == 24, "layout shared with ms_x64_probe.S");
static_assert(offsetof(Probe, rsp_before) == 88, "layout shared with ms_x64_probe.S");
static_assert(offsetof(Probe, rbx) == 120, "layout shared with ms_x64_probe.S");
static_assert(offsetof(Probe, xmm6_15) == 184, "layout shared with ms_x64_probe.S");

extern "C" void tm_ms_x64_probe(Probe* probe);
extern "C" const uint32_t tm_ms_x64_patterns[10][4];

// The convention guarantees RSP % 16 == 8 at entry; there is nothing else
// to vary.
constexpr uint32_t kEntryOffsets[] = {8};

#else
#error "a Windows probe for x86 or x64 only"
#endif

// The arguments in declaration order.
class Args {
public:
    Args& i32(int32_t v) {
#if defined(__i386__)
        words_.push_back(static_cast<uint32_t>(v));
#else
        // Only the low half belongs to the argument.
        slots_.push_back({(kGarbage & 0xffffffff00000000ull) | static_cast<uint32_t>(v), false});
#endif
        return *this;
    }
    Args& ptr(const void* p) {
#if defined(__i386__)
        words_.push_back(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
#else
        slots_.push_back({static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)), false});
#endif
        return *this;
    }
    Args& f64(double d) {
#if defined(__i386__)
        uint32_t halves[2];
        std::memcpy(halves, &d, sizeof d);
        words_.push_back(halves[0]);
        words_.push_back(halves[1]);
#else
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof d);
        slots_.push_back({bits, true});
#endif
        return *this;
    }

#if defined(__i386__)
    const std::vector<uint32_t>& words() const { return words_; }

private:
    std::vector<uint32_t> words_;
#else
    struct Slot {
        uint64_t bits;
        bool is_double;
    };
    const std::vector<Slot>& slots() const { return slots_; }

private:
    std::vector<Slot> slots_;
#endif
};

// The callee's result: the integer register (EAX, or RAX) and the floating
// one (ST(0), or XMM0) when it returns a double.
struct Outcome {
    uint64_t integer;
    double real;

    int32_t i32() const { return static_cast<int32_t>(static_cast<uint32_t>(integer)); }
    uintptr_t pointer() const { return static_cast<uintptr_t>(integer); }
};

// Calls fn, an export, with the stack pointer % 16 == entry_offset at its
// first instruction (one of kEntryOffsets), and checks what it must keep.
// arg_bytes is the stdcall argument size (Hlop@36: 36), which the 32-bit
// callee must remove. returns_double collects a double result.
template <class Fn>
inline Outcome call_as_host(Fn fn, const Args& args, uint32_t entry_offset, uint32_t arg_bytes,
                            bool returns_double = false) {
#if defined(__i386__)
    Probe probe{};
    probe.fn = reinterpret_cast<const void*>(fn);
    probe.args = args.words().data();
    probe.words = static_cast<uint32_t>(args.words().size());
    probe.entry_offset = entry_offset;
    probe.returns_double = returns_double ? 1 : 0;
    EXPECT_EQ(probe.words * 4, arg_bytes) << "the test pushes the wrong argument list";
    tm_stdcall_probe(&probe);
    const uint32_t removed = probe.esp_after - (probe.esp_before - probe.words * 4);
    EXPECT_EQ(removed, arg_bytes) << "the callee removed the wrong number of argument bytes";
    EXPECT_EQ(probe.ebx, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&probe))) << "EBX clobbered";
    EXPECT_EQ(probe.esi, 0x13579bdfu) << "ESI clobbered";
    EXPECT_EQ(probe.edi, 0x2468ace0u) << "EDI clobbered";
    return Outcome{probe.eax, probe.st0};
#else
    EXPECT_EQ(entry_offset, 8u) << "x64 callers keep RSP % 16 == 8 at entry";
    const auto& slots = args.slots();
    // The stdcall size counts a double as two words: the same arguments.
    uint32_t stdcall_bytes = 0;
    for (const auto& slot : slots) stdcall_bytes += slot.is_double ? 8 : 4;
    EXPECT_EQ(stdcall_bytes, arg_bytes) << "the test passes the wrong argument list";
    EXPECT_LE(slots.size(), 10u) << "the probe's outgoing area holds 10 slots";
    Probe probe{};
    probe.fn = reinterpret_cast<const void*>(fn);
    std::vector<uint64_t> stack(slots.size() < 4 ? 4 : slots.size(), kGarbage);
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (i < 4) {
            // The register of the other kind holds garbage; the home
            // space is the callee's and holds garbage too.
            probe.gp[i] = slots[i].is_double ? kGarbage : slots[i].bits;
            probe.xmm[i] = slots[i].is_double ? slots[i].bits : kGarbage;
        } else {
            stack[i] = slots[i].bits;
        }
    }
    for (std::size_t i = slots.size(); i < 4; ++i) probe.gp[i] = probe.xmm[i] = kGarbage;
    probe.slots = stack.data();
    probe.slot_count = stack.size();
    tm_ms_x64_probe(&probe);
    EXPECT_EQ(probe.rsp_after, probe.rsp_before) << "RSP not given back";
    EXPECT_EQ(probe.rsp_before % 16, 0u) << "the probe itself misaligned the call";
    EXPECT_EQ(probe.rbx, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&probe))) << "RBX clobbered";
    EXPECT_EQ(probe.rbp, 0x1111222233334444ull) << "RBP clobbered";
    EXPECT_EQ(probe.rdi, 0x5555666677778888ull) << "RDI clobbered";
    EXPECT_EQ(probe.rsi, 0x99990000aaaabbbbull) << "RSI clobbered";
    EXPECT_EQ(probe.r12, 0xccccddddeeeeffffull) << "R12 clobbered";
    EXPECT_EQ(probe.r13, 0x0123456789abcdefull) << "R13 clobbered";
    EXPECT_EQ(probe.r14, 0xfedcba9876543210ull) << "R14 clobbered";
    EXPECT_EQ(probe.r15, 0x0f1e2d3c4b5a6978ull) << "R15 clobbered";
    for (int r = 0; r < 10; ++r)
        EXPECT_EQ(std::memcmp(probe.xmm6_15[r], tm_ms_x64_patterns[r], 16), 0) << "XMM" << r + 6 << " clobbered";
    double real = 0.0;
    if (returns_double) std::memcpy(&real, &probe.xmm0, sizeof real);
    return Outcome{probe.rax, real};
#endif
}

}  // namespace win32_probe

#endif
