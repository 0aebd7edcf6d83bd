#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_plugin_registry(ModuleScope& m) {
    m.doc("Service registry for core services that can be injected into plugins.");
}

}  // namespace zunt
