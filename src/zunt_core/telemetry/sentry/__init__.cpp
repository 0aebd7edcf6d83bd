#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_telemetry_sentry(ModuleScope& m) {
    m.doc("Sentry start-up.");
}

}  // namespace zunt
