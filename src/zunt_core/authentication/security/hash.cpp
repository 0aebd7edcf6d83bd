// zunt_core.authentication.security.hash: the password-hashing interface.
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

nb::object PasswordHashService_hash(Call&) { return nb::none(); }

nb::object PasswordHashService_verify(Call&) { return nb::none(); }

}  // namespace

void build_zunt_core_authentication_security_hash(ModuleScope& m) {
    m.doc("Base class for password hashing services.");
    m.from_import("abc", {"ABC", "abstractmethod"});

    nb::object str = builtin("str");
    ClassBuilder cls(m, "PasswordHashService", nb::make_tuple(m.get("ABC")),
                     "Base class for password hashing services.");
    cls.abstract_method({.name = "hash", .params = {arg("self"), arg("password", str)},
                         .impl = PasswordHashService_hash,
                         .doc = "Hashes a password.", .returns = str})
        .abstract_method({.name = "verify",
                          .params = {arg("self"), arg("password", str), arg("hashed_password", str)},
                          .impl = PasswordHashService_verify,
                          .doc = "Verifies a password against a hashed password.",
                          .returns = builtin("bool")});
    cls.build();
}

}  // namespace zunt
