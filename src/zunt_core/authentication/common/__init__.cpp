// zunt_core.authentication.common: small helpers of the key formats.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_common(ModuleScope& m) { m.doc("Common Utilities."); }

}  // namespace zunt
