// zunt_core.authentication.user.repository: a description, nothing else.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_user_repository(ModuleScope& m) { m.doc("User repository."); }

}  // namespace zunt
