// zunt_core.authentication.token.service.revoke_token_service: revoking a
// presented access token of the calling client.
#include "runtime/errors.hpp"
#include "zunt_core/authentication/token/service/access_token.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// revoke_token(self, api_key, access_token): whether the token's row was
// found (and is now revoked).
nb::object RevokeTokenService_revoke_token(Call& c) {
    nb::handle self = c[0];
    nb::object client_id = self.attr("client_aware_service").attr("get_client_id_by_api_key")(c[1]);
    nb::object claims = access_token::decode(c, c[2]);
    auto [subject, token_id] = access_token::subject_and_token_id(c, claims);
    nb::object UUID = c.global("UUID");
    nb::object user_uuid = UUID(subject);
    nb::object token_uuid = UUID(token_id);
    return self.attr("token_repository")
        .attr("revoke_token")(nb::arg("client_id") = client_id, nb::arg("user_id") = user_uuid,
                              nb::arg("token_id") = token_uuid);
}

}  // namespace

void build_zunt_core_authentication_token_service_revoke_token_service(ModuleScope& m) {
    m.doc("Revoke token service.");
    m.from_import("uuid", {"UUID"});
    m.from_import("jose", {"jwt"});
    m.from_import("jose.exceptions", {"JWTClaimsError"});
    m.from_import("zunt_core.authentication.client.service.client_aware_service", {"ClientAwareService"});
    m.from_import("zunt_core.authentication.config", {"AuthenticationDbSettings"});
    m.from_import("zunt_core.authentication.token.repository.base_repository", {"BaseRepository"});

    nb::object str = builtin("str");
    ClassBuilder cls(m, "RevokeTokenService", "Revokes access tokens.");
    cls.storing_init({arg("token_repository", m.get("BaseRepository")),
                      arg("client_aware_service", m.get("ClientAwareService"))},
                     {"token_repository", "client_aware_service"}, "Keep the token repository and the client resolver.")
        .method({.name = "revoke_token", .params = {arg("self"), arg("api_key", str), arg("access_token", str)},
                 .impl = RevokeTokenService_revoke_token,
                 .doc = "Revoke an access token of the calling client; whether its row was found.",
                 .returns = builtin("bool")});
    cls.build();
}

}  // namespace zunt
