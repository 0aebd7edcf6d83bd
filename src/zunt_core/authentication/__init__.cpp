// zunt_core.authentication: the authentication component.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication(ModuleScope& m) {
    m.doc("Authentication modules.");
    m.from_import("zunt_core.authentication.provider", {"init_auth_services"});
    m.from_import("zunt_core.authentication.config", {"AuthenticationDbSettings"});
    m.set_all({"init_auth_services", "AuthenticationDbSettings"});
}

}  // namespace zunt
