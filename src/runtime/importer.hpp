// Serves the package's module tree out of the one binary. The package's
// __path__ holds an entry inside the binary (".../__init__.abi3.so/zunt_core"),
// like a zip archive's; a sys.path_hooks entry answers for such paths with a
// finder that knows the module table, so the host's own import machinery
// (parents first, sys.modules, locks, importlib.util.find_spec, pkgutil) does
// the rest.
#pragma once

#include "runtime/builder.hpp"

#include <cstddef>

namespace zunt::rt {

struct ModuleEntry {
    const char* name;  // dotted name
    bool package;
    // Null for a namespace package: a package without a module of its own,
    // which the host's import machinery makes from its search location.
    void (*build)(ModuleScope& scope);
};

// Makes the root package serve the table. Safe to call again (reload or a
// second import of the root): the path hook is installed once per process.
void install_importer(nb::handle root, const ModuleEntry* table, std::size_t size);

}  // namespace zunt::rt
