// zunt_core.authentication.user.helper.helper: making and reading user keys
// ("sk-user-" + id . identifier . secret).
#include "runtime/errors.hpp"
#include "zunt_core/authentication/key_text.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

nb::object UserHelper_generate_secret(Call& c) { return key_text::generate_secret(c, "SECRET_LENGTH"); }

nb::object UserHelper_build_api_key(Call& c) { return key_text::build_key(c, "SECRET_PREFIX", "identifier"); }

nb::object UserHelper_segmentize(Call& c) {
    return key_text::segmentize(c, c[1], "SECRET_PREFIX", c.global("UnauthorizedException"), "Invalid token.");
}

// to_user(self, secret_key): the user id, identifier and plain secret a key
// carries. Every failure, the cutting's own "Invalid token." included,
// becomes an authorisation error with the failure's text, raised from it.
nb::object UserHelper_to_user(Call& c) {
    try {
        key_text::KeyFields fields = key_text::read_key(c, c[1]);
        return c.global("UserBasic")(nb::arg("id") = fields.id, nb::arg("identifier") = fields.name,
                                     nb::arg("secret") = fields.secret);
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception)) throw;
        raise_from(c.global("UnauthorizedException").ptr(), str_of(e.value()), e);
    }
}

}  // namespace

void build_zunt_core_authentication_user_helper_helper(ModuleScope& m) {
    m.doc("User keys.");
    m.import_bind("secrets");
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.common.base64_helper", {"decode_base64", "encode_base64"});
    m.from_import("zunt_core.authentication.user.repository.models", {"UserBasic", "UserModel"});
    m.from_import("zunt_core.exception", {"UnauthorizedException"});

    nb::object str = builtin("str");
    ClassBuilder cls(m, "UserHelper", "Makes and reads user keys.");
    cls.attr("SECRET_PREFIX", nb::str("sk-user-"))
        .attr("SECRET_LENGTH", nb::int_(32))
        .attr("DELIMITER", nb::str("."))
        .method({.name = "generate_secret", .params = {arg("self")}, .impl = UserHelper_generate_secret,
                 .doc = "A new random user secret.", .returns = str})
        .method({.name = "build_api_key", .params = {arg("self"), arg("user", m.get("UserModel"))},
                 .impl = UserHelper_build_api_key,
                 .doc = "The user key of a user whose secret field holds the plain secret.", .returns = str})
        .method({.name = "to_user", .params = {arg("self"), arg("secret_key", str)}, .impl = UserHelper_to_user,
                 .doc = "The user id, identifier and plain secret a user key carries.", .returns = m.get("UserBasic")})
        .method({.name = "_segmentize", .params = {arg("self"), arg("api_key", str)}, .impl = UserHelper_segmentize,
                 .doc = "The segments of a key after its prefix (three or more).",
                 .returns = subscript(builtin("list"), str)});
    cls.build();
}

}  // namespace zunt
