#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_telemetry(ModuleScope& m) {
    m.doc("Telemetry: start-up of OpenTelemetry tracing and of Sentry.");
    m.from_import("zunt_core.telemetry.initializer", {"TelemetryConfig", "init_telemetry"});
    m.from_import("zunt_core.telemetry.opentelemetry.initializer", {"FastAPIConfig", "OpenTelemetryConfig"});
    m.from_import("zunt_core.telemetry.sentry.initializer", {"SentryConfig"});
    m.set_all({"OpenTelemetryConfig", "SentryConfig", "TelemetryConfig", "init_telemetry", "FastAPIConfig"});
}

}  // namespace zunt
