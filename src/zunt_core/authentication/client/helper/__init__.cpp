// zunt_core.authentication.client.helper: a description, nothing else.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_client_helper(ModuleScope& m) { m.doc("Client helpers."); }

}  // namespace zunt
