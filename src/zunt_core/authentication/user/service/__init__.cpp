// zunt_core.authentication.user.service: the three user services.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_user_service(ModuleScope& m) {
    m.doc("User related services.");
    m.from_import("zunt_core.authentication.user.service.authentication_service", {"AuthenticateUserService"});
    m.from_import("zunt_core.authentication.user.service.create_user_service", {"CreateUserService"});
    m.from_import("zunt_core.authentication.user.service.get_user_service", {"GetUserService"});
    m.set_all({"AuthenticateUserService", "CreateUserService", "GetUserService"});
}

}  // namespace zunt
