#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_plugin_plugin(ModuleScope& m) {
    m.doc("Plugin base class for the Plugin Architecture.");
}

}  // namespace zunt
