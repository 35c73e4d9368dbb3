// Shared by the parts of the tidemark._native module.
#ifndef TIDEMARK_PYTHON_MODULE_H
#define TIDEMARK_PYTHON_MODULE_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

namespace tidemark::python {

// Raises unless a is a one-dimensional, contiguous array of native byte order
// with dtype kind and itemsize (and writable, when asked) that the library
// can address with an int32 count. wanted names the dtype in the message.
void require_vector(const pybind11::array& a, const char* function, const char* name, char kind,
                    pybind11::ssize_t itemsize, const char* wanted, bool writable);

// levels() and screen(): the demo host's workflow on bars from arrays or a file.
void bind_workflow(pybind11::module_& m);

// read_dates(), frame_columns(): a DataFrame through the reader's stages.
void bind_reading(pybind11::module_& m);

// walk_arrays() and walk_file(): the walk of one series.
void bind_walk(pybind11::module_& m);

}  // namespace tidemark::python

#endif
