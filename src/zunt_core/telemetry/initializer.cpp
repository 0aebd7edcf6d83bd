// zunt_core.telemetry.initializer: the one start-up call. Sentry when a Sentry
// configuration is given (with OpenTelemetry behind it only when that
// configuration links one), else OpenTelemetry with an OTLP exporter when an
// OpenTelemetry configuration is given, else nothing.
#include "runtime/host.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// init_telemetry(config)
nb::object init_telemetry(Call& c) {
    nb::handle config = c[0];
    nb::object sentry_config = config.attr("sentry_config");
    if (truthy(sentry_config)) {
        c.global("init_sentry")(sentry_config);
        return nb::none();
    }
    nb::object otel_config = config.attr("otel_config");
    if (truthy(otel_config)) c.global("init_otel_with_external_exporter")(otel_config);
    return nb::none();
}

}  // namespace

void build_zunt_core_telemetry_initializer(ModuleScope& m) {
    m.doc("The telemetry start-up call: Sentry, or OpenTelemetry with an OTLP exporter, as configured.");
    m.from_import("typing", {"Optional"});
    m.from_import("zunt_core.telemetry.opentelemetry.initializer",
                  {"OpenTelemetryConfig", "init_otel_with_external_exporter"});
    m.from_import("zunt_core.telemetry.sentry.initializer", {"SentryConfig", "init_sentry"});

    nb::object Optional = m.get("Optional");
    nb::object none = nb::none();

    ClassBuilder config(m, "TelemetryConfig", "What init_telemetry starts: Sentry, OpenTelemetry, or neither.");
    config.storing_init({arg_default("sentry_config", subscript(Optional, m.get("SentryConfig")), none),
                         arg_default("otel_config", subscript(Optional, m.get("OpenTelemetryConfig")), none)},
                        {"sentry_config", "otel_config"});
    nb::object TelemetryConfig = config.build();

    m.def({.name = "init_telemetry",
           .params = {arg("config", TelemetryConfig)},
           .impl = init_telemetry,
           .doc = "Start telemetry: Sentry when sentry_config is set (OpenTelemetry then only through it), otherwise "
                  "OpenTelemetry with an OTLP exporter when otel_config is set, otherwise nothing.",
           .returns = none});
}

}  // namespace zunt
