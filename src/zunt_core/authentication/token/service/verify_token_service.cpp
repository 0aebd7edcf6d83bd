// zunt_core.authentication.token.service.verify_token_service: checking a
// presented access token for the calling client.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/authentication/token/service/access_token.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// verify_token_and_get_user_id(self, api_key, access_token): the user id of
// the token's row, after the client, the signature, the claims, the expiry
// and the row have been checked, in this order.
nb::object VerifyTokenService_verify_token_and_get_user_id(Call& c) {
    nb::handle self = c[0];
    nb::object client_id = self.attr("client_aware_service").attr("get_client_id_by_api_key")(c[1]);
    nb::object claims = access_token::decode(c, c[2]);
    auto [subject, token_id] = access_token::subject_and_token_id(c, claims);
    nb::object expires = claims.attr("get")("exp");
    if (!truthy(expires)) access_token::raise_invalid_claims(c);
    nb::object now = access_token::now_seconds(c);
    if (check_test(PyObject_RichCompareBool(expires.ptr(), now.ptr(), Py_LT))) {
        raise_empty(c.global("ExpiredSignatureError").ptr());
    }
    nb::object UUID = c.global("UUID");
    nb::object user_uuid = UUID(subject);
    nb::object token_uuid = UUID(token_id);
    nb::object row = self.attr("token_repository")
                         .attr("get_token")(nb::arg("client_id") = client_id, nb::arg("user_id") = user_uuid,
                                            nb::arg("token_id") = token_uuid);
    if (row.is_none()) raise(c.global("UnauthorizedException").ptr(), "Token not found.");
    if (truthy(row.attr("is_revoked"))) raise(c.global("JWTError").ptr(), "Token has been revoked.");
    return row.attr("user_id");
}

}  // namespace

void build_zunt_core_authentication_token_service_verify_token_service(ModuleScope& m) {
    m.doc("Verify token service.");
    m.from_import("datetime", {"datetime", "timezone"});
    m.from_import("uuid", {"UUID"});
    m.from_import("jose", {"ExpiredSignatureError", "JWTError", "jwt"});
    m.from_import("jose.exceptions", {"JWTClaimsError"});
    m.from_import("zunt_core.authentication.client.service.client_aware_service", {"ClientAwareService"});
    m.from_import("zunt_core.authentication.config", {"AuthenticationDbSettings"});
    m.from_import("zunt_core.authentication.token.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.exception", {"UnauthorizedException"});

    nb::object str = builtin("str");
    ClassBuilder cls(m, "VerifyTokenService", "Checks access tokens.");
    cls.storing_init({arg("token_repository", m.get("BaseRepository")),
                      arg("client_aware_service", m.get("ClientAwareService"))},
                     {"token_repository", "client_aware_service"}, "Keep the token repository and the client resolver.")
        .method({.name = "verify_token_and_get_user_id",
                 .params = {arg("self"), arg("api_key", str), arg("access_token", str)},
                 .impl = VerifyTokenService_verify_token_and_get_user_id,
                 .doc = "The user id of a valid, unrevoked access token of the calling client.",
                 .returns = m.get("UUID")});
    cls.build();
}

}  // namespace zunt
