#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_telemetry_opentelemetry_instrument(ModuleScope& m) {
    m.doc("Instrumentors: tracing of functions that the application names.");
}

}  // namespace zunt
