#ifndef TIDEMARK_BARS_FRACTAL_H
#define TIDEMARK_BARS_FRACTAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame/float_bits.h"
#include "tidemark.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tidemark::bars {

// Records arrive back to back, 44 bytes each, so a double inside one is as
// often misaligned as not: read fields as bytes, never through an lvalue of
// the field's type.
template <class T>
inline T bar_read(const BarRecord* bars, std::ptrdiff_t index, std::size_t offset) noexcept {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(bars + index) + offset;
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

constexpr std::size_t kTime = offsetof(BarRecord, time);
constexpr std::size_t kLow = offsetof(BarRecord, low);
constexpr std::size_t kHigh = offsetof(BarRecord, high);

// ---------------------------------------------------------------------------
// The down fractal's diagnostic trace.

// The messages, Windows-1251 bytes in printf form, in the order they come:
// kBreak and kStart, for each neighbour of the right run kRightCheck and then
// kRightCount (it qualifies) or kRightEnd (it ends the run), kBreak, for each
// neighbour of the left run kLeftCheck and kLeftCount (only when it
// qualifies), and last kResult.
namespace message {
constexpr char kBreak[] = "\n";
// "Определяем нижний фрактал cмещение %d, время %s; low %f\n" (Latin "c")
constexpr char kStart[] =
    "\xCE\xEF\xF0\xE5\xE4\xE5\xEB\xFF\xE5\xEC \xED\xE8\xE6\xED\xE8\xE9 \xF4\xF0\xE0\xEA\xF2"
    "\xE0\xEB c\xEC\xE5\xF9\xE5\xED\xE8\xE5 %d, \xE2\xF0\xE5\xEC\xFF %s; low %f\n";
// "\tПроверяем %f > %f?  ..."
constexpr char kRightCheck[] = "\t\xCF\xF0\xEE\xE2\xE5\xF0\xFF\xE5\xEC %f > %f?  ...";
constexpr char kRightCount[] = "right = %d\n";
constexpr char kRightEnd[] = " !!! ";
// "\tПроверяем %f > %f? ... "
constexpr char kLeftCheck[] = "\t\xCF\xF0\xEE\xE2\xE5\xF0\xFF\xE5\xEC %f > %f? ... ";
constexpr char kLeftCount[] = "left = %d\n";
constexpr char kResult[] = "left = %d, right = %d\n";
}  // namespace message

// The trace sink of the shipped library: it listens to nothing, so the
// messages (and the calendar conversion behind one of them) are never formed.
// A diagnostic build or a test supplies a sink with kListening = true and a
// printf-style call operator.
struct Trace {
    static constexpr bool kListening = false;
    void operator()(const char* /*format*/, ...) const noexcept {}
};

// Room for the asctime layout "Www Mmm dd hh:mm:ss yyyy\n" and its NUL.
constexpr std::size_t kTimeTextSize = 32;

// The bar time, shifted back four hours, as local time in the asctime
// layout (newline included). Thread-safe; a time that cannot be converted
// (negative after the shift, or rejected by the platform) gives a fixed
// placeholder of the same layout. Never fails. Defined in bar_time_text.cpp,
// which only builds with a listening sink compile.
void bar_time_text(int32_t time, char (&text)[kTimeTextSize]) noexcept;

// Tells the sink what the down fractal does, one step at a time. When the
// sink does not listen every step is empty and compiles to nothing.
template <class Sink>
class DownTrace {
public:
    DownTrace(Sink& sink, double centre) noexcept : sink_(sink), centre_(centre) {}

    void start([[maybe_unused]] const BarRecord* bars, [[maybe_unused]] int32_t shift) noexcept {
        if constexpr (Sink::kListening) {
            char when[kTimeTextSize];
            bar_time_text(bar_read<int32_t>(bars, shift, kTime), when);
            sink_(message::kBreak);
            sink_(message::kStart, static_cast<int>(shift), when, centre_);
        }
    }

    // What count_run tells about each neighbour of the right run and of the
    // left run.
    auto right_run() noexcept {
        return [&]([[maybe_unused]] double low, [[maybe_unused]] bool qualified,
                   [[maybe_unused]] int32_t accepted) {
            if constexpr (Sink::kListening) {
                sink_(message::kRightCheck, centre_, low);
                if (qualified) sink_(message::kRightCount, static_cast<int>(accepted));
                else sink_(message::kRightEnd);
            }
        };
    }
    auto left_run() noexcept {
        return [&]([[maybe_unused]] double low, [[maybe_unused]] bool qualified,
                   [[maybe_unused]] int32_t accepted) {
            if constexpr (Sink::kListening) {
                sink_(message::kLeftCheck, centre_, low);
                if (qualified) sink_(message::kLeftCount, static_cast<int>(accepted));
            }
        };
    }

    void between_runs() noexcept {
        if constexpr (Sink::kListening) sink_(message::kBreak);
    }

    void result([[maybe_unused]] int32_t left, [[maybe_unused]] int32_t right) noexcept {
        if constexpr (Sink::kListening) sink_(message::kResult, static_cast<int>(left), static_cast<int>(right));
    }

private:
    Sink& sink_;
    double centre_;
};

// ---------------------------------------------------------------------------
// The fractals.

// Counts the neighbours bars[shift + step * k], k = 1 ... depth, up to the
// first one whose field fails `qualifies`, which is given the field's bits.
// `seen(value, qualified, accepted)` is told about every neighbour examined,
// with the count accepted before it.
template <class Qualifies, class Seen>
int32_t count_run(const BarRecord* bars, int32_t shift, int32_t step, int32_t depth,
                  std::size_t field, Qualifies qualifies, Seen seen) noexcept {
    int32_t accepted = 0;
    while (accepted < depth) {
        // In 64 bits: shift +/- depth must not overflow even for calls that
        // stop long before depth.
        const int64_t index = static_cast<int64_t>(shift) + static_cast<int64_t>(step) * (accepted + 1);
        const uint64_t value = bar_read<uint64_t>(bars, static_cast<std::ptrdiff_t>(index), field);
        const bool qualified = qualifies(value);
        seen(from_bits(value), qualified, accepted);
        if (!qualified) break;
        ++accepted;
    }
    return accepted;
}

// The fractals compare prices on their bits (OrderedBelow), so they hold no
// floating-point instruction at all: no host setting can change a result or
// see a flag raised, and their exports need no guard.

// The two neighbour tests, shared by the one-bar routines below and the
// whole-series routine (fractal_series.h), so that both give the same bits.
// qualifier(c) gives the test of a neighbour's field (its bits) against the
// centre's c. Up: the centre's high dominates a neighbour when "c >= high",
// so a NaN on either side fails and ends the run. Down: "not c > low" rather
// than "c <= low", so a NaN on either side qualifies. The SSE2 forms test two
// bars at once with the processor's comparisons (ordered "greater or equal";
// unordered "not greater"), which give the same answers as the bit forms in
// the default floating-point environment: their callers must hold
// frame::DefaultFloatingPoint.
struct UpTest {
    static constexpr std::size_t kField = kHigh;
    static auto qualifier(uint64_t centre) noexcept {
        return [dominated = OrderedBelow::at_most(centre)](uint64_t high) { return dominated.contains(high); };
    }
#if defined(__SSE2__)
    static __m128d qualifies(__m128d centre, __m128d neighbour) noexcept {
        return _mm_cmpge_pd(centre, neighbour);
    }
#endif
};
struct DownTest {
    static constexpr std::size_t kField = kLow;
    static auto qualifier(uint64_t centre) noexcept {
        return [undercut = OrderedBelow::below(centre)](uint64_t low) { return !undercut.contains(low); };
    }
#if defined(__SSE2__)
    static __m128d qualifies(__m128d centre, __m128d neighbour) noexcept {
        return _mm_cmpngt_pd(centre, neighbour);
    }
#endif
};

// Strength of bars[shift] as an up fractal; see CheckUpFractal.
int32_t check_up_fractal(const BarRecord* bars, int32_t depth, int32_t shift) noexcept;

// Strength of bars[shift] as a down fractal; see CheckDownFractal. It reads
// as the up fractal does, and tells `sink` how it got there when the sink
// listens.
template <class Sink>
int32_t check_down_fractal(const BarRecord* bars, int32_t depth, int32_t shift, Sink& sink) noexcept {
    // Nothing is read, not even the centre bar, when no neighbour is asked for.
    if (depth < 1) return 0;
    const uint64_t c = bar_read<uint64_t>(bars, shift, DownTest::kField);
    const auto qualifies = DownTest::qualifier(c);
    DownTrace<Sink> trace(sink, from_bits(c));
    trace.start(bars, shift);
    const int32_t right = count_run(bars, shift, -1, depth, DownTest::kField, qualifies, trace.right_run());
    trace.between_runs();
    const int32_t left = count_run(bars, shift, +1, depth, DownTest::kField, qualifies, trace.left_run());
    trace.result(left, right);
    return left < right ? left : right;
}

// The shipped down fractal: the silent sink.
int32_t check_down_fractal(const BarRecord* bars, int32_t depth, int32_t shift) noexcept;

}  // namespace tidemark::bars

#endif
