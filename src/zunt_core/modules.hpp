// Builders of the package's modules, one per module, named after the module.
// Each lives in the source file that mirrors its module's path.
#pragma once

#include "runtime/builder.hpp"

namespace zunt {

using rt::ModuleScope;

void build_zunt_core(ModuleScope& m);
void build_zunt_core_exception(ModuleScope& m);
void build_zunt_core_exception_base(ModuleScope& m);
void build_zunt_core_helpers(ModuleScope& m);
void build_zunt_core_helpers_json(ModuleScope& m);
void build_zunt_core_plugin(ModuleScope& m);
void build_zunt_core_plugin_registry(ModuleScope& m);
void build_zunt_core_plugin_handler(ModuleScope& m);
void build_zunt_core_plugin_plugin(ModuleScope& m);
void build_zunt_core_plugin_manager(ModuleScope& m);
void build_zunt_core_services(ModuleScope& m);
void build_zunt_core_services_config(ModuleScope& m);

// Telemetry
void build_zunt_core_telemetry(ModuleScope& m);
void build_zunt_core_telemetry_initializer(ModuleScope& m);
void build_zunt_core_telemetry_opentelemetry(ModuleScope& m);
void build_zunt_core_telemetry_opentelemetry_initializer(ModuleScope& m);
void build_zunt_core_telemetry_opentelemetry_instrument(ModuleScope& m);
void build_zunt_core_telemetry_opentelemetry_instrument_functions(ModuleScope& m);
void build_zunt_core_telemetry_sentry(ModuleScope& m);
void build_zunt_core_telemetry_sentry_initializer(ModuleScope& m);

}  // namespace zunt
