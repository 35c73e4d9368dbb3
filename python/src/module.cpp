// tidemark._native: the library's exports and its whole-series routines for
// Python. The library is compiled into this module and every export is
// reached through its extern "C" entry point, exactly as a host calls it.
// This layer checks what the exports cannot (dtypes, shapes, strides, indices
// and counts against the arrays' real sizes) and raises before anything is
// read or written; the friendlier conversions live in the Python package.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "bars/fractal_series.h"
#include "frame/float_environment.h"
#include "module.h"
#include "tidemark.h"

namespace py = pybind11;

namespace tidemark::python {

void require_vector(const py::array& a, const char* function, const char* name, char kind,
                    py::ssize_t itemsize, const char* wanted, bool writable) {
    const std::string what = std::string(function) + ": " + name;
    const py::dtype dt = a.dtype();
    if (dt.kind() != kind || dt.itemsize() != itemsize || !dt.attr("isnative").cast<bool>())
        throw py::type_error(what + " must be a " + wanted + " array, got " +
                             py::str(a.dtype()).cast<std::string>());
    if (a.ndim() != 1)
        throw py::value_error(what + " must be one-dimensional, got " + std::to_string(a.ndim()) +
                              " dimensions");
    if (!(a.flags() & py::array::c_style))
        throw py::value_error(what + " must be contiguous (one element after another), got strides of " +
                              std::to_string(a.strides(0)) + " bytes");
    if (writable && !a.writeable()) throw py::value_error(what + " is read-only");
    if (a.shape(0) > INT32_MAX)
        throw py::value_error(what + " has " + std::to_string(a.shape(0)) +
                              " elements; the library takes at most 2147483647");
}

namespace {

int32_t count_of(const py::array& a) { return static_cast<int32_t>(a.shape(0)); }

// Whether two contiguous arrays share a byte: the export writes one while it
// reads the other.
bool overlap(const py::array& a, const py::array& b) {
    if (a.nbytes() == 0 || b.nbytes() == 0) return false;
    const auto a0 = reinterpret_cast<std::uintptr_t>(a.data());
    const auto b0 = reinterpret_cast<std::uintptr_t>(b.data());
    return a0 < b0 + static_cast<std::uintptr_t>(b.nbytes()) &&
           b0 < a0 + static_cast<std::uintptr_t>(a.nbytes());
}

int32_t as_int32(long long value, const char* function, const char* name) {
    if (value < INT32_MIN || value > INT32_MAX)
        throw py::value_error(std::string(function) + ": " + name + " " + std::to_string(value) +
                              " does not fit in an int32");
    return static_cast<int32_t>(value);
}

int32_t check_level(double price, double tolerance, const py::array& prices) {
    require_vector(prices, "check_level", "prices", 'f', 8, "float64", false);
    const auto* p = static_cast<const double*>(prices.data());
    const int32_t n = count_of(prices);
    py::gil_scoped_release unlocked;
    return ::CheckLevel(0, 0, price, tolerance, p, n);
}

void hlop(py::array prices, py::array weights, const py::object& tags,
          double tolerance, long long mode) {
    require_vector(prices, "hlop", "prices", 'f', 8, "float64", true);
    require_vector(weights, "hlop", "weights", 'i', 4, "int32", true);
    const int32_t n = count_of(prices);
    if (weights.shape(0) != prices.shape(0))
        throw py::value_error("hlop: prices and weights differ in length (" +
                              std::to_string(prices.shape(0)) + " and " +
                              std::to_string(weights.shape(0)) + ")");
    if (overlap(prices, weights))
        throw py::value_error("hlop: prices and weights share memory");
    const int32_t m = as_int32(mode, "hlop", "mode");
    // Tags are only read; when the caller has none, zeros stand in (calloc:
    // pages nobody reads cost nothing).
    std::unique_ptr<int32_t, decltype(&std::free)> zeros(nullptr, &std::free);
    const int32_t* t = nullptr;
    if (tags.is_none()) {
        zeros.reset(static_cast<int32_t*>(std::calloc(n > 0 ? static_cast<std::size_t>(n) : 1, sizeof(int32_t))));
        if (!zeros) throw std::bad_alloc();
        t = zeros.get();
    } else {
        const auto tag_array = tags.cast<py::array>();
        require_vector(tag_array, "hlop", "tags", 'i', 4, "int32", false);
        if (tag_array.shape(0) != prices.shape(0))
            throw py::value_error("hlop: tags and prices differ in length (" +
                                  std::to_string(tag_array.shape(0)) + " and " +
                                  std::to_string(prices.shape(0)) + ")");
        if (overlap(tag_array, prices) || overlap(tag_array, weights))
            throw py::value_error("hlop: tags share memory with prices or weights");
        t = static_cast<const int32_t*>(tag_array.data());
    }
    auto* p = static_cast<double*>(prices.mutable_data());
    auto* w = static_cast<int32_t*>(weights.mutable_data());
    py::gil_scoped_release unlocked;
    ::Hlop(0, 0, p, w, t, n, tolerance, m);
}

void resize(long long span, py::array weights) {
    const int32_t s = as_int32(span, "resize", "span");
    require_vector(weights, "resize", "weights", 'i', 4, "int32", true);
    auto* w = static_cast<int32_t*>(weights.mutable_data());
    const int32_t n = count_of(weights);
    py::gil_scoped_release unlocked;
    ::Resize(0, 0, s, w, n);
}

// The records bars[shift - depth] ... bars[shift + depth] must lie within the
// array: the export reads them without looking.
template <int32_t (*Export)(int32_t, int32_t, const BarRecord*, int32_t, int32_t)>
int32_t fractal(const char* function, const py::array& bars, long long depth, long long shift) {
    require_vector(bars, function, "bars", 'V', sizeof(BarRecord), "structured 44-byte BarRecord", false);
    const long long n = bars.shape(0);
    if (depth < 0)
        throw py::value_error(std::string(function) + ": depth " + std::to_string(depth) +
                              " is negative");
    const int32_t d = as_int32(depth, function, "depth");
    if (shift < 0 || shift >= n)
        throw py::index_error(std::string(function) + ": shift " + std::to_string(shift) +
                              " is outside the " + std::to_string(n) + " bars");
    if (shift - depth < 0 || shift + depth >= n)
        throw py::index_error(std::string(function) + ": shift " + std::to_string(shift) +
                              " with depth " + std::to_string(depth) + " needs bars " +
                              std::to_string(shift - depth) + " to " + std::to_string(shift + depth) +
                              ", outside the " + std::to_string(n) + " bars");
    return Export(0, 0, static_cast<const BarRecord*>(bars.data()), d, static_cast<int32_t>(shift));
}

py::tuple fractal_strength(const py::array& high, const py::array& low, long long depth) {
    require_vector(high, "fractal_strength", "high", 'f', 8, "float64", false);
    require_vector(low, "fractal_strength", "low", 'f', 8, "float64", false);
    if (high.shape(0) != low.shape(0))
        throw py::value_error("fractal_strength: high and low differ in length (" +
                              std::to_string(high.shape(0)) + " and " + std::to_string(low.shape(0)) +
                              ")");
    if (depth < 0)
        throw py::value_error("fractal_strength: depth " + std::to_string(depth) + " is negative");
    const int32_t d = as_int32(depth, "fractal_strength", "depth");
    const py::ssize_t n = high.shape(0);
    // One block for both results: one allocation, which the allocator keeps
    // for the next call instead of handing back fresh pages to fault in.
    py::array_t<int32_t> both({static_cast<py::ssize_t>(2), n});
    const auto* h = static_cast<const double*>(high.data());
    const auto* l = static_cast<const double*>(low.data());
    int32_t* u = both.mutable_data();
    int32_t* w = u + n;
    {
        py::gil_scoped_release unlocked;
        // The environment every export computes in (fractal_strengths is the
        // library's, reached here without an export in front of it).
        const frame::DefaultFloatingPoint fp;
        bars::fractal_strengths(h, l, static_cast<std::size_t>(n), d, u, w);
    }
    const py::object up = both[py::int_(0)], down = both[py::int_(1)];
    return py::make_tuple(up, down);
}

// A stopwatch handle from CreateTimer, released exactly once.
class Timer {
public:
    Timer() : handle_(::CreateTimer()) {
        if (handle_ == nullptr) throw std::bad_alloc();
    }
    ~Timer() {
        if (handle_ != nullptr) ::StopTimer(handle_, 1);
    }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    bool start() { return ::StartTimer(live()) != 0; }
    double read() { return ::StopTimer(live(), 0); }
    double release() {
        const double seconds = ::StopTimer(live(), 1);
        handle_ = nullptr;
        return seconds;
    }
    bool released() const { return handle_ == nullptr; }

private:
    void* live() const {
        if (handle_ == nullptr) throw py::value_error("the stopwatch is already closed");
        return handle_;
    }
    void* handle_;
};

}  // namespace
}  // namespace tidemark::python

PYBIND11_MODULE(_native, m) {
    using namespace tidemark::python;
    m.doc() = "The tidemark library compiled into this module; use the tidemark package.";
    m.attr("__version__") = TIDEMARK_VERSION;
    m.def("check_level", &check_level, py::arg("price"), py::arg("tolerance"),
          py::arg("prices").noconvert());
    m.def("hlop", &hlop, py::arg("prices").noconvert(), py::arg("weights").noconvert(),
          py::arg("tags").none(true), py::arg("tolerance"), py::arg("mode"));
    m.def("resize", &resize, py::arg("span"), py::arg("weights").noconvert());
    m.def("up_fractal", [](const py::array& bars, long long depth, long long shift) {
        return fractal<&::CheckUpFractal>("up_fractal", bars, depth, shift);
    }, py::arg("bars").noconvert(), py::arg("depth"), py::arg("shift"));
    m.def("down_fractal", [](const py::array& bars, long long depth, long long shift) {
        return fractal<&::CheckDownFractal>("down_fractal", bars, depth, shift);
    }, py::arg("bars").noconvert(), py::arg("depth"), py::arg("shift"));
    m.def("fractal_strength", &fractal_strength, py::arg("high").noconvert(),
          py::arg("low").noconvert(), py::arg("depth"));
    py::class_<Timer>(m, "Timer")
        .def(py::init<>())
        .def("start", &Timer::start)
        .def("read", &Timer::read)
        .def("release", &Timer::release)
        .def_property_readonly("released", &Timer::released);
    bind_workflow(m);
    bind_reading(m);
    bind_walk(m);
}
