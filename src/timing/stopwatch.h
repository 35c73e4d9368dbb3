#ifndef TIDEMARK_TIMING_STOPWATCH_H
#define TIDEMARK_TIMING_STOPWATCH_H

#include <cstddef>
#include <cstdint>

namespace tidemark::timing {

// A stopwatch on the platform's high-resolution counter with a fixed number
// of start slots. The host holds it as an opaque handle. Its first word
// points at its one-slot virtual table, the destructor, through which a C++
// host may destroy it while the copy of the library that made it is loaded;
// the library's own release (destroy) never goes through that pointer.
// The slots, the scale and the virtual destructor are deliberate, though the exports use one slot and scale 1.
class Stopwatch final {
public:
    // Reads the counter frequency once and stamps every slot with the current
    // counter, so that a reading before any Start measures from creation.
    // When the stamps cannot be allocated the stopwatch is not usable: check
    // usable() before handing it out.
    explicit Stopwatch(int32_t slots) noexcept;
    // From the C heap: a failure is a null, never an exception, and no C++
    // runtime allocator is involved.
    static void* operator new(std::size_t size) noexcept;
    static void operator delete(void* watch) noexcept;
    virtual ~Stopwatch();
    Stopwatch(const Stopwatch&) = delete;
    Stopwatch& operator=(const Stopwatch&) = delete;

    bool usable() const noexcept { return stamps_ != nullptr; }

    // Destroys and frees a stopwatch without reading its virtual table, which
    // lies in the image of the loaded copy that made it: a host may have
    // unloaded that copy, or hand the stopwatch to another copy. There is one
    // stopwatch type, so the destructor to run is known here.
    static void destroy(Stopwatch* watch) noexcept;

    // Restarts slot; non-zero when the counter could be read. On failure the
    // slot keeps its previous stamp.
    int32_t Start(int32_t slot) noexcept;

    // Counter ticks since slot's stamp, in seconds times scale.
    double Elapsed(int32_t slot, int32_t scale) const noexcept;

private:
    int64_t* stamps_;
    int64_t frequency_;  // ticks per second
};

// What the three stopwatch exports do; see tidemark.h. None of them throws,
// and a null handle is answered with 0 without touching anything.
void* create_timer() noexcept;
int32_t start_timer(void* handle) noexcept;
// stop_timer puts its reading in `elapsed` rather than returning it: on
// 32-bit x86 a returned double travels in the x87 register ST(0), and the
// library leaves the x87 unit to StopTimer's own result.
void stop_timer(void* handle, int32_t release, double& elapsed) noexcept;

}  // namespace tidemark::timing

#endif
