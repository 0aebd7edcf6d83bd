// zunt_core.authentication.security.argon2: Argon2id hashing through
// argon2-cffi's PasswordHasher, made afresh for every call with the
// library's default cost parameters.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// PasswordHasher(type=Type.ID), through the names this module imported.
nb::object new_hasher(Call& c) {
    return c.global("PasswordHasher")(nb::arg("type") = c.global("Type").attr("ID"));
}

nb::object Argon2PasswordHashService_hash(Call& c) { return new_hasher(c).attr("hash")(c[1]); }

// The stored hash first, the candidate second: the hashing library's order.
// Every failure of the Exception family is a plain "no"; interruptions and
// exit requests pass through.
nb::object Argon2PasswordHashService_verify(Call& c) {
    try {
        return new_hasher(c).attr("verify")(c[2], c[1]);
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception)) throw;
        return nb::bool_(false);
    }
}

}  // namespace

void build_zunt_core_authentication_security_argon2(ModuleScope& m) {
    m.doc("Argon2 Password Hash Service.");
    m.from_import("argon2", {"PasswordHasher", "Type"});
    m.from_import("zunt_core.authentication.security.hash", {"PasswordHashService"});

    nb::object str = builtin("str");
    ClassBuilder cls(m, "Argon2PasswordHashService", nb::make_tuple(m.get("PasswordHashService")),
                     "Argon2 Password Hash Service.");
    cls.method({.name = "hash", .params = {arg("self"), arg("password", str)}, .impl = Argon2PasswordHashService_hash,
                .doc = "Hashes a password.",
                .returns = str})
        .method({.name = "verify",
                 .params = {arg("self"), arg("password", str), arg("hashed_password", str)},
                 .impl = Argon2PasswordHashService_verify,
                 .doc = "Verifies a password against a hashed password.",
                 .returns = builtin("bool")});
    cls.build();
}

}  // namespace zunt
