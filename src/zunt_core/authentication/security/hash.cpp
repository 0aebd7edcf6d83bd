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
    cls.abstract_method({"hash", {arg("self"), arg("password", str)}, PasswordHashService_hash,
                         "Hashes a password.", str})
        .abstract_method({"verify",
                          {arg("self"), arg("password", str), arg("hashed_password", str)},
                          PasswordHashService_verify,
                          "Verifies a password against a hashed password.",
                          builtin("bool")});
    cls.build();
}

}  // namespace zunt
