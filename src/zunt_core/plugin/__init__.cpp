#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_plugin(ModuleScope& m) {
    m.doc("Plugin Modules.");
}

}  // namespace zunt
