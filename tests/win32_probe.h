// Calls an export through an assembly thunk that pushes the arguments as a
// 32-bit Windows host does, at a chosen stack alignment, and checks that the
// callee removed exactly its argument bytes and kept EBX, ESI and EDI.
#ifndef TIDEMARK_TESTS_WIN32_PROBE_H
#define TIDEMARK_TESTS_WIN32_PROBE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace win32_probe {

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

// Argument words in declaration order (the first lies lowest on the stack).
class Args {
public:
    Args& i32(int32_t v) {
        words_.push_back(static_cast<uint32_t>(v));
        return *this;
    }
    Args& ptr(const void* p) {
        words_.push_back(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)));
        return *this;
    }
    Args& f64(double d) {
        uint32_t halves[2];
        std::memcpy(halves, &d, sizeof d);
        words_.push_back(halves[0]);
        words_.push_back(halves[1]);
        return *this;
    }
    const std::vector<uint32_t>& words() const { return words_; }

private:
    std::vector<uint32_t> words_;
};

struct Outcome {
    uint32_t eax;
    double st0;
};

// Calls fn, an export, with ESP % 16 == entry_offset at its first
// instruction; expects it to pop arg_bytes and preserve the callee-saved
// registers. returns_double collects the x87 result of a double function.
template <class Fn>
inline Outcome call_as_host(Fn fn, const Args& args, uint32_t entry_offset, uint32_t arg_bytes,
                            bool returns_double = false) {
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
}

}  // namespace win32_probe

#endif
