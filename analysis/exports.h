// The one table of the library's exports: each export's name and the Exports
// member that holds it. The analysis calls the library through an Exports;
// the loader (which opens the library by file name) and a front end that
// compiles the library in both fill it from this table. The pointer types
// come from the header's declarations, so the calling convention is always
// the one the library was built with.
#ifndef TIDEMARK_ANALYSIS_EXPORTS_H
#define TIDEMARK_ANALYSIS_EXPORTS_H

#include <type_traits>

#include "tidemark.h"

#define TIDEMARK_EXPORT_TABLE(X)              \
    X(CheckLevel, check_level)                \
    X(Hlop, hlop)                             \
    X(Resize, resize)                         \
    X(CheckUpFractal, check_up_fractal)       \
    X(CheckDownFractal, check_down_fractal)   \
    X(CreateTimer, create_timer)              \
    X(StartTimer, start_timer)                \
    X(StopTimer, stop_timer)

namespace tidemark::analysis {

struct Exports {
#define TIDEMARK_EXPORT_MEMBER(name, member) decltype(&::name) member = nullptr;
    TIDEMARK_EXPORT_TABLE(TIDEMARK_EXPORT_MEMBER)
#undef TIDEMARK_EXPORT_MEMBER
};

// The header's function-pointer types, which GetProcAddress hosts use, are
// exactly the declarations' types.
#define TIDEMARK_EXPORT_PFN_MATCHES(name, member) \
    static_assert(std::is_same_v<decltype(&::name), PFN_##name>, "PFN_" #name " differs from " #name);
TIDEMARK_EXPORT_TABLE(TIDEMARK_EXPORT_PFN_MATCHES)
#undef TIDEMARK_EXPORT_PFN_MATCHES

// The exports' names in table order.
#define TIDEMARK_EXPORT_NAME(name, member) #name,
inline constexpr const char* kExportNames[] = {TIDEMARK_EXPORT_TABLE(TIDEMARK_EXPORT_NAME)};
#undef TIDEMARK_EXPORT_NAME

}  // namespace tidemark::analysis

#endif
