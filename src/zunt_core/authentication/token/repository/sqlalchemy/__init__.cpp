// zunt_core.authentication.token.repository.sqlalchemy: a description, nothing else.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_token_repository_sqlalchemy(ModuleScope& m) { m.doc("SQLAlchemy Module."); }

}  // namespace zunt
