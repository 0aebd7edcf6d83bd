// zunt_core.authentication.database_migration.migration_versions: one module
// per migration; the runner imports each by its full name.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_database_migration_migration_versions(ModuleScope& m) {
    m.doc("migration versions.");
}

}  // namespace zunt
