// zunt_core.authentication.token.repository: a description, nothing else.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_token_repository(ModuleScope& m) { m.doc("Token repository."); }

}  // namespace zunt
