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
    {"zunt_core.plugin", true, build_zunt_core_plugin},
    {"zunt_core.plugin.registry", false, build_zunt_core_plugin_registry},
    {"zunt_core.plugin.handler", false, build_zunt_core_plugin_handler},
    {"zunt_core.plugin.plugin", false, build_zunt_core_plugin_plugin},
    {"zunt_core.plugin.manager", false, build_zunt_core_plugin_manager},
    {"zunt_core.services", true, build_zunt_core_services},
    {"zunt_core.services.config", false, build_zunt_core_services_config},
    // Telemetry
    {"zunt_core.telemetry", true, build_zunt_core_telemetry},
    {"zunt_core.telemetry.initializer", false, build_zunt_core_telemetry_initializer},
    {"zunt_core.telemetry.opentelemetry", true, build_zunt_core_telemetry_opentelemetry},
    {"zunt_core.telemetry.opentelemetry.initializer", false, build_zunt_core_telemetry_opentelemetry_initializer},
    {"zunt_core.telemetry.opentelemetry.instrument", true, build_zunt_core_telemetry_opentelemetry_instrument},
    {"zunt_core.telemetry.opentelemetry.instrument.functions", false,
     build_zunt_core_telemetry_opentelemetry_instrument_functions},
    {"zunt_core.telemetry.sentry", true, build_zunt_core_telemetry_sentry},
    {"zunt_core.telemetry.sentry.initializer", false, build_zunt_core_telemetry_sentry_initializer},
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
