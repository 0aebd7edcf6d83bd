// zunt_core.authentication.user.service.authentication_service: the login.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// __init__(self, create_token_service, user_service)
nb::object AuthenticateUserService_init(Call& c) {
    nb::handle self = c[0];
    self.attr("user_service") = c[2];
    self.attr("create_token_service") = c[1];
    self.attr("user_helper") = c.global("UserHelper")();
    self.attr("hash_service") = c.global("AuthenticationDbSettings")().attr("password_hash_service");
    return nb::none();
}

// authenticate_user(self, api_key, identifier, secret): an access token for
// the user the key names in the calling client, when its identifier and the
// key's secret match.
nb::object AuthenticateUserService_authenticate_user(Call& c) {
    nb::handle self = c[0];
    nb::handle identifier = c[2];
    nb::object presented = self.attr("user_helper").attr("to_user")(c[3]);
    nb::object user = self.attr("user_service").attr("get_user")(c[1], presented.attr("id"));
    auto refuse = [&] { raise(c.global("UnauthorizedException").ptr(), "Identifier or password is incorrect."); };
    if (user.is_none()) refuse();
    // user.identifier != identifier, as written: the stored text's own
    // comparison answers (a given str subclass cannot make itself equal).
    nb::object differs = steal_or_throw(PyObject_RichCompare(user.attr("identifier").ptr(), identifier.ptr(), Py_NE));
    if (truthy(differs)) refuse();
    if (!truthy(self.attr("hash_service").attr("verify")(presented.attr("secret"), user.attr("secret")))) refuse();
    return self.attr("create_token_service").attr("create_token")(user);
}

}  // namespace

void build_zunt_core_authentication_user_service_authentication_service(ModuleScope& m) {
    m.doc("Authenticate user service.");
    m.from_import("zunt_core.authentication.config", {"AuthenticationDbSettings"});
    m.from_import("zunt_core.authentication.token.repository.models", {"TokenComplete"});
    m.from_import("zunt_core.authentication.token.service.create_token_service", {"CreateTokenService"});
    m.from_import("zunt_core.authentication.user.helper.helper", {"UserHelper"});
    m.from_import("zunt_core.authentication.user.service.get_user_service", {"GetUserService"});
    m.from_import("zunt_core.exception", {"UnauthorizedException"});

    nb::object str = builtin("str");
    ClassBuilder cls(m, "AuthenticateUserService", "Logs users in.");
    cls.method({.name = "__init__",
                .params = {arg("self"), arg("create_token_service", m.get("CreateTokenService")),
                           arg("user_service", m.get("GetUserService"))},
                .impl = AuthenticateUserService_init,
                .doc = "Keep the token issuer and the user look-ups; take the password hasher.",
                .returns = nb::none()})
        .method({.name = "authenticate_user",
                 .params = {arg("self"), arg("api_key", str), arg("identifier", str), arg("secret", str)},
                 .impl = AuthenticateUserService_authenticate_user,
                 .doc = "Log a user in with the client API key, the identifier and the user key.",
                 .returns = m.get("TokenComplete")});
    cls.build();
}

}  // namespace zunt
