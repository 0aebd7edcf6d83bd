// zunt_core.authentication.plugin.repository.sqlalchemy: description only.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_plugin_repository_sqlalchemy(ModuleScope& m) {
    m.doc("SQLAlchemy plugin repository module.");
}

}  // namespace zunt
