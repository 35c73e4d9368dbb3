// What the package's calls of the analysis share: the exports compiled into
// the module, the options checked as the command checks its own, and the
// series read, cut and analysed without the GIL.
#ifndef TIDEMARK_PYTHON_WORKFLOW_H
#define TIDEMARK_PYTHON_WORKFLOW_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <new>
#include <stdexcept>
#include <string>

#include "analysis.h"
#include "bars.h"
#include "checks.h"
#include "options.h"
#include "screen_row.h"

namespace tidemark::python {

// The exports compiled into this module, in the one table of exports.
const analysis::Exports& exports();

// The command's own limits for its options.
analysis::Settings settings_of(long long depth, const pybind11::object& tolerance, long long mode, long long span);

// How Python spells the reader's options in its messages: dates='dmy',
// columns={'date': 'Datum'}, symbol=, start= and end=.
const reader::OptionSpelling& python_spelling();

// What a caller tells the reader, and the window of bars to analyse, from
// the package's keywords (None: not given), checked as the command checks
// its options and named as Python spells them.
struct Reading {
    reader::ReadOptions read;
    analysis::Window window;
};
Reading reading_of(const pybind11::object& dates, const pybind11::object& columns, const pybind11::object& symbol,
                   const pybind11::object& start, const pybind11::object& end);

// Cuts a series read whole to the window: an error naming the file (or
// none), as the command's.
bool cut(reader::BarSeries& series, const analysis::Window& window, const std::string& file, std::string& error);

// Reads the file at path as the command does and cuts it to the window;
// bars_in_file: the bars before the cut.
bool read_cut(const std::string& path, const Reading& reading, reader::BarSeries& series, std::size_t& bars_in_file,
              std::string& error);

// The five price columns of a function's bars, each checked to be a float64
// vector as long as reference (named so in the message; checked first when it
// is one of them), as the reader's arrays, without times.
reader::ArrayBars price_columns(const char* function, const pybind11::array& reference, const char* reference_name,
                                const pybind11::array& open, const pybind11::array& high,
                                const pybind11::array& low, const pybind11::array& close,
                                const pybind11::array& volume);

// The same with the int64 time column (seconds, 0 for undated bars), checked
// first, as the reader's arrays.
reader::ArrayBars dated_columns(const char* function, const pybind11::array& time, const pybind11::array& open,
                                const pybind11::array& high, const pybind11::array& low,
                                const pybind11::array& close, const pybind11::array& volume);

// A series from arrays that the reader's checks passed, oldest first (their
// rows reversed when newest_first); a bar without a time is at 0.
reader::BarSeries series_of(const reader::ArrayBars& bars, bool newest_first = false);

// Raises: the series cannot be analysed (no bars, or more than a bar
// record's index can address).
void check_size(const reader::BarSeries& series);

// Raises type with text that may hold bytes that are not UTF-8 (a file name,
// a field of a file): shown with replacement characters, never lost.
[[noreturn]] void raise_text(PyObject* type, const std::string& text);

// Runs work, which reads or analyses bars without the GIL and returns false
// with error set on a bad input. Bars too many for memory are an input that
// cannot be used, as the command tells it, not the end of the caller's screen.
template <typename Work>
void without_gil(const std::string& file, Work&& work) {
    std::string error;
    bool done = false, memory = false;
    {
        pybind11::gil_scoped_release unlocked;
        try {
            done = work(error);
        } catch (const std::bad_alloc&) {
            memory = true;
        } catch (const std::length_error&) {  // more than a 32-bit string or vector can hold
            memory = true;
        }
    }
    if (memory) raise_text(PyExc_MemoryError, reader::ReadError{file, 0, reader::kNoMemory}.text());
    if (!done) raise_text(PyExc_ValueError, error);
}

}  // namespace tidemark::python

#endif
