// zunt_core.authentication.client: description only; every name is imported
// from the module that defines it.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_client(ModuleScope& m) { m.doc("Authentication Client."); }

}  // namespace zunt
