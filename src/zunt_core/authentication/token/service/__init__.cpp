// zunt_core.authentication.token.service: the three token services.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_token_service(ModuleScope& m) {
    m.doc("Token related services.");
    m.from_import("zunt_core.authentication.token.service.create_token_service", {"CreateTokenService"});
    m.from_import("zunt_core.authentication.token.service.revoke_token_service", {"RevokeTokenService"});
    m.from_import("zunt_core.authentication.token.service.verify_token_service", {"VerifyTokenService"});
    m.set_all({"CreateTokenService", "RevokeTokenService", "VerifyTokenService"});
}

}  // namespace zunt
