// zunt_core.authentication.user: a description, nothing else.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_user(ModuleScope& m) { m.doc("Authentication User."); }

}  // namespace zunt
