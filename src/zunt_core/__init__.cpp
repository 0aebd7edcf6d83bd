// The package binary: its init installs the importer that serves every other
// module of the tree from the table below (made from modules.def), then
// builds the root package.
#include "runtime/coroutine.hpp"
#include "runtime/function.hpp"
#include "runtime/importer.hpp"
#include "zunt_core/modules.hpp"

#include <iterator>

namespace zunt {

// The builders, one per module and package of modules.def, each defined in
// the source file that mirrors its module's path.
#define ZUNT_PACKAGE(id, dotted) void build_##id(ModuleScope& m);
#define ZUNT_MODULE(id, dotted) void build_##id(ModuleScope& m);
#define ZUNT_NAMESPACE(id, dotted)
#include "zunt_core/modules.def"
#undef ZUNT_PACKAGE
#undef ZUNT_MODULE
#undef ZUNT_NAMESPACE

namespace {

const rt::ModuleEntry module_table[] = {
#define ZUNT_PACKAGE(id, dotted) {dotted, true, build_##id},
#define ZUNT_MODULE(id, dotted) {dotted, false, build_##id},
#define ZUNT_NAMESPACE(id, dotted) {dotted, true, nullptr},
#include "zunt_core/modules.def"
#undef ZUNT_PACKAGE
#undef ZUNT_MODULE
#undef ZUNT_NAMESPACE
};

}  // namespace

void build_zunt_core(ModuleScope& m) {
    m.doc("ZUNT Core Library Module.");
    m.from_import("zunt_core.plugin.handler", {"PluginHandler"});
    m.from_import("zunt_core.plugin.manager", {"PluginManager"});
    m.from_import("zunt_core.plugin.plugin", {"Plugin"});
    m.from_import("zunt_core.services.config", {"ConfigService"});
    m.set_all({"PluginManager", "PluginHandler", "Plugin", "ConfigService"});
}

}  // namespace zunt

NB_MODULE(zunt_core, m) {
    zunt::rt::init_function_type();
    zunt::rt::init_coroutine_type();
    zunt::rt::install_importer(m, zunt::module_table, std::size(zunt::module_table));
    zunt::ModuleScope scope(m);
    zunt::build_zunt_core(scope);
}
