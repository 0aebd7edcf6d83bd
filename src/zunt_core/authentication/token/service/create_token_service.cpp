// zunt_core.authentication.token.service.create_token_service: issuing an
// access token for a user and storing its row.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/authentication/token/service/access_token.shared.hpp"
#include "zunt_core/modules.hpp"

#include <cmath>

namespace zunt {

using namespace rt;

namespace {

constexpr int default_lifetime_minutes = 15;

// _create_access_token(self, data, expires_delta=None): the signed token and
// its expiry as local wall-clock time. The claims are a copy of `data` with
// "exp" (whole UTC seconds) set from one reading of the clock; a missing or
// zero lifetime is 15 minutes.
nb::object CreateTokenService_create_access_token(Call& c) {
    nb::object claims = builtin("dict")(c[1]);
    nb::object now = c.global("datetime").attr("now")(c.global("timezone").attr("utc"));
    nb::object lifetime = truthy(c[2]) ? nb::borrow(c[2])
                                       : c.global("timedelta")(nb::arg("minutes") = default_lifetime_minutes);
    nb::object expires = steal_or_throw(PyNumber_Add(now.ptr(), lifetime.ptr()));
    double stamp = nb::cast<double>(expires.attr("timestamp")());
    claims["exp"] = nb::int_(static_cast<long long>(std::floor(stamp)));
    nb::object token = access_token::sign(c, claims);
    nb::object local_now = now.attr("astimezone")().attr("replace")(nb::arg("tzinfo") = nb::none());
    nb::object expires_at = steal_or_throw(PyNumber_Add(local_now.ptr(), lifetime.ptr()));
    return nb::make_tuple(token, expires_at);
}

// create_token(self, user): sign, store the row (not revoked), answer the token.
nb::object CreateTokenService_create_token(Call& c) {
    nb::handle self = c[0];
    nb::handle user = c[1];
    nb::object settings = c.global("AuthenticationDbSettings")();
    nb::object lifetime =
        c.global("timedelta")(nb::arg("minutes") = settings.attr("auth_access_token_expire_minutes"));
    nb::object token_id = c.global("uuid").attr("uuid4")();
    nb::dict claims;
    claims["sub"] = str_of(user.attr("id"));
    claims["client_id"] = str_of(user.attr("client_id"));
    claims["identifier"] = user.attr("identifier");
    claims["jti"] = str_of(token_id);
    nb::object signed_token = self.attr("_create_access_token")(claims, lifetime);
    nb::object token = signed_token[0];
    nb::object expires_at = signed_token[1];
    nb::object row = c.global("Token")(nb::arg("id") = token_id, nb::arg("user_id") = user.attr("id"),
                                       nb::arg("client_id") = user.attr("client_id"), nb::arg("is_revoked") = false);
    self.attr("token_repository").attr("create_token")(row);
    return c.global("TokenComplete")(nb::arg("id") = token_id, nb::arg("token") = token,
                                     nb::arg("token_type") = "Bearer", nb::arg("expires_at") = expires_at,
                                     nb::arg("is_revoked") = false, nb::arg("user_id") = user.attr("id"),
                                     nb::arg("client_id") = user.attr("client_id"));
}

}  // namespace

void build_zunt_core_authentication_token_service_create_token_service(ModuleScope& m) {
    m.doc("Create token service.");
    m.import_bind("uuid");
    m.from_import("datetime", {"datetime", "timedelta", "timezone"});
    m.from_import("typing", {"Any", "Optional"});
    m.from_import("jose", {"jwt"});
    m.from_import("zunt_core.authentication.config", {"AuthenticationDbSettings"});
    m.from_import("zunt_core.authentication.token.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.authentication.token.repository.models", {"Token", "TokenComplete"});
    m.from_import("zunt_core.authentication.user.repository.models", {"User"});

    nb::object claims_type = subscript(builtin("dict"), {builtin("str"), m.get("Any")});
    ClassBuilder cls(m, "CreateTokenService", "Issues access tokens.");
    cls.storing_init({arg("token_repository", m.get("BaseRepository"))}, {"token_repository"},
                     "Keep the token repository.")
        .method({.name = "create_token", .params = {arg("self"), arg("user", m.get("User"))},
                 .impl = CreateTokenService_create_token,
                 .doc = "Sign an access token for the user, store its row and answer it.",
                 .returns = m.get("TokenComplete")})
        .method({.name = "_create_access_token",
                 .params = {arg("self"), arg("data", claims_type),
                            arg_default("expires_delta", subscript(m.get("Optional"), m.get("timedelta")), nb::none())},
                 .impl = CreateTokenService_create_access_token,
                 .doc = "The signed token and its expiry (local time) for a copy of the claims with \"exp\" set.",
                 .returns = subscript(builtin("tuple"), {builtin("str"), m.get("datetime")})});
    cls.build();
}

}  // namespace zunt
