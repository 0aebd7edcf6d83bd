// zunt_core.authentication.user.helper: a description, nothing else.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_user_helper(ModuleScope& m) { m.doc("User-specific helpers."); }

}  // namespace zunt
