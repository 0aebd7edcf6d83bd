#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_services(ModuleScope& m) {
    m.doc("Services module for ZUNT Core.");
    m.from_import("zunt_core.services.config", {"ConfigService"});
    m.set_all({"ConfigService"});
}

}  // namespace zunt
