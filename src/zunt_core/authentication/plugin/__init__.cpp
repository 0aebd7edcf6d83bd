// zunt_core.authentication.plugin: the store of users' third-party
// integrations (stored credentials for external connectors). Description
// only; every name is imported from the module that defines it.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_plugin(ModuleScope& m) { m.doc("Plugin Authentication Modules."); }

}  // namespace zunt
