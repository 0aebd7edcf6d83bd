// zunt_core.authentication.token: a description, nothing else.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_token(ModuleScope& m) { m.doc("Authentication Token."); }

}  // namespace zunt
