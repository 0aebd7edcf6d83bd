// zunt_core.authentication.client.repository.sqlalchemy: description only.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_client_repository_sqlalchemy(ModuleScope& m) { m.doc("SQLAlchemy Module."); }

}  // namespace zunt
