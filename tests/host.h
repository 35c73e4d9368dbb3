// The tests reach the library the way a charting host does: through the
// loader, which loads it by file name and looks every export up by its
// undecorated name.
#ifndef TIDEMARK_TESTS_HOST_H
#define TIDEMARK_TESTS_HOST_H

#include "loader.h"

namespace host {

// The program's one loaded copy of the library (tidemark::loader::
// library_path()), every export resolved. The first call loads it; a library
// that cannot be loaded or lacks an export ends the program with status 2
// and one line saying why.
const tidemark::loader::Exports& exports();

}  // namespace host

#endif
