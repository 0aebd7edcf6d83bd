#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_helpers_json(ModuleScope& m) {
    m.doc("JSON helper functions for filtering and manipulating JSON data.");
}

}  // namespace zunt
