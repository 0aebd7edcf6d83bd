#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_plugin_handler(ModuleScope& m) {
    m.doc("PluginHandler interface for plugin system.");
}

}  // namespace zunt
