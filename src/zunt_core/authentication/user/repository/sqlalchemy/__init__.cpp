// zunt_core.authentication.user.repository.sqlalchemy: a description, nothing else.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_user_repository_sqlalchemy(ModuleScope& m) { m.doc("SQLAlchemy Module."); }

}  // namespace zunt
