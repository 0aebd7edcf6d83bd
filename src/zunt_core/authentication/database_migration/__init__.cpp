// zunt_core.authentication.database_migration: the schema migrations and
// their runner. The package itself loads none of its modules.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_database_migration(ModuleScope& m) { m.doc("database migration."); }

}  // namespace zunt
