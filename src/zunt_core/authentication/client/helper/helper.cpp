// zunt_core.authentication.client.helper.helper: making and reading client
// API keys ("sk-client-" + id . name . secret).
#include "runtime/errors.hpp"
#include "zunt_core/authentication/key_text.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

nb::object ClientHelper_generate_secret(Call& c) { return key_text::generate_secret(c, "API_KEY_LENGTH"); }

nb::object ClientHelper_build_api_key(Call& c) { return key_text::build_key(c, "API_KEY_PREFIX", "name"); }

nb::object ClientHelper_segmentize(Call& c) {
    return key_text::segmentize(c, c[1], "API_KEY_PREFIX", c.global("InvalidClientException"), "Invalid API Key.");
}

// to_client(self, api_key): the client record a key carries. The client
// error of cutting passes as it is; any other failure becomes a client error
// with the failure's text, raised from it.
nb::object ClientHelper_to_client(Call& c) {
    nb::object error_class = c.global("InvalidClientException");
    try {
        key_text::KeyFields fields = key_text::read_key(c, c[1]);
        return c.global("ClientBasic")(nb::arg("id") = fields.id, nb::arg("name") = fields.name,
                                       nb::arg("secret") = fields.secret);
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception) || e.matches(error_class)) throw;
        raise_from(error_class.ptr(), str_of(e.value()), e);
    }
}

}  // namespace

void build_zunt_core_authentication_client_helper_helper(ModuleScope& m) {
    m.doc("Client API keys.");
    m.import_bind("secrets");
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.client.repository.models", {"ClientBasic"});
    m.from_import("zunt_core.authentication.common.base64_helper", {"decode_base64", "encode_base64"});
    m.from_import("zunt_core.exception", {"InvalidClientException"});

    nb::object str = builtin("str");
    ClassBuilder cls(m, "ClientHelper", "Makes and reads client API keys.");
    cls.attr("API_KEY_PREFIX", nb::str("sk-client-"))
        .attr("API_KEY_LENGTH", nb::int_(32))
        .attr("DELIMITER", nb::str("."))
        .method({.name = "generate_secret", .params = {arg("self")}, .impl = ClientHelper_generate_secret,
                 .doc = "A new random client secret.", .returns = str})
        .method({.name = "build_api_key", .params = {arg("self"), arg("client", m.get("ClientBasic"))},
                 .impl = ClientHelper_build_api_key,
                 .doc = "The client API key of a client.", .returns = str})
        .method({.name = "to_client", .params = {arg("self"), arg("api_key", str)}, .impl = ClientHelper_to_client,
                 .doc = "The client id, name and secret a client API key carries.", .returns = m.get("ClientBasic")})
        .method({.name = "_segmentize", .params = {arg("self"), arg("api_key", str)}, .impl = ClientHelper_segmentize,
                 .doc = "The segments of a key after its prefix (three or more).",
                 .returns = subscript(builtin("list"), str)});
    cls.build();
}

}  // namespace zunt
