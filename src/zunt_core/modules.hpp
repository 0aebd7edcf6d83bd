// What a module's source file builds with: the module builder, under the
// name its builder takes. A module's builder is
//
//   void build_<id>(ModuleScope& m)
//
// in namespace zunt, with the id of the module's line in modules.def. Only
// the importer's table (__init__.cpp) declares the builders, so that adding
// a module recompiles that module and the table, and no other module.
#pragma once

#include "runtime/builder.hpp"

namespace zunt {

using rt::ModuleScope;

}  // namespace zunt
