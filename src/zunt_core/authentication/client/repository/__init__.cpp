// zunt_core.authentication.client.repository: description only.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_client_repository(ModuleScope& m) { m.doc("Client repository."); }

}  // namespace zunt
