#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_plugin_manager(ModuleScope& m) {
    m.doc("Plugin manager.");
}

}  // namespace zunt
