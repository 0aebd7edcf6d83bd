// Builders of the package's modules, one per module, named after the module
// (the list is modules.def). Each lives in the source file that mirrors its
// module's path.
#pragma once

#include "runtime/builder.hpp"

namespace zunt {

using rt::ModuleScope;

// The root package (src/zunt_core/__init__.cpp).
void build_zunt_core(ModuleScope& m);

// One builder for each module and package of modules.def.
#define ZUNT_PACKAGE(id, dotted) void build_##id(ModuleScope& m);
#define ZUNT_MODULE(id, dotted) void build_##id(ModuleScope& m);
#define ZUNT_NAMESPACE(id, dotted)
#include "zunt_core/modules.def"
#undef ZUNT_PACKAGE
#undef ZUNT_MODULE
#undef ZUNT_NAMESPACE

}  // namespace zunt
