// The package binary: its init installs the importer that serves every other
// module of the tree from the table below, then builds the root package.
#include "runtime/coroutine.hpp"
#include "runtime/function.hpp"
#include "runtime/importer.hpp"
#include "zunt_core/modules.hpp"

#include <iterator>

namespace zunt {

namespace {

const rt::ModuleEntry module_table[] = {
    {"zunt_core.exception", true, build_zunt_core_exception},
    {"zunt_core.exception.base", false, build_zunt_core_exception_base},
    {"zunt_core.helpers", true, build_zunt_core_helpers},
    {"zunt_core.helpers.json", false, build_zunt_core_helpers_json},
    {"zunt_core.logger", true, build_zunt_core_logger},
    {"zunt_core.logger.regex_pii_logger_handler", false, build_zunt_core_logger_regex_pii_logger_handler},
    {"zunt_core.logger.ner_pii_logger_handler", false, build_zunt_core_logger_ner_pii_logger_handler},
    {"zunt_core.plugin", true, build_zunt_core_plugin},
    {"zunt_core.plugin.registry", false, build_zunt_core_plugin_registry},
    {"zunt_core.plugin.handler", false, build_zunt_core_plugin_handler},
    {"zunt_core.plugin.plugin", false, build_zunt_core_plugin_plugin},
    {"zunt_core.plugin.manager", false, build_zunt_core_plugin_manager},
    {"zunt_core.services", true, build_zunt_core_services},
    {"zunt_core.services.config", false, build_zunt_core_services_config},
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
