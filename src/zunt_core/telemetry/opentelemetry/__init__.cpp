#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_telemetry_opentelemetry(ModuleScope& m) {
    m.doc("OpenTelemetry start-up and the function-tracing instrumentor.");
}

}  // namespace zunt
