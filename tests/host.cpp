#include "host.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace host {
namespace {

const tidemark::loader::Library& load() {
    static tidemark::loader::Library library;
    std::string error;
    if (!library.open(tidemark::loader::library_path(), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(2);
    }
    return library;
}

}  // namespace

const tidemark::loader::Exports& exports() {
    static const tidemark::loader::Library& library = load();
    return library.exports();
}

}  // namespace host
