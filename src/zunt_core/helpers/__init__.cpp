#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_helpers(ModuleScope& m) {
    m.doc("Module for helpers classes and functions.");
}

}  // namespace zunt
