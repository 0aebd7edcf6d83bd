// zunt_core.authentication.client.service.verify_client_service: checking a
// client API key against the stored client.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt/key_layout.hpp"
#include "zunt_core/modules.hpp"

#include <string_view>

namespace zunt {

using namespace rt;

namespace {

// The UTF-8 bytes of a text, lone surrogates kept as their own bytes.
nb::object utf8_bytes(nb::handle text) {
    return steal_or_throw(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass"));
}

std::string_view bytes_view(nb::handle bytes) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.ptr(), &data, &size) != 0) throw_current();
    return {data, static_cast<std::size_t>(size)};
}

// presented == stored, for texts compared over their UTF-8 bytes in constant
// time, so the time taken tells nothing about how much of a guessed secret
// was right. Anything but two texts compares as the host compares it.
bool secrets_equal(nb::handle presented, nb::handle stored) {
    if (!PyUnicode_Check(presented.ptr()) || !PyUnicode_Check(stored.ptr())) {
        return check_test(PyObject_RichCompareBool(presented.ptr(), stored.ptr(), Py_EQ));
    }
    nb::object a = utf8_bytes(presented);
    nb::object b = utf8_bytes(stored);
    return keys::constant_time_equal(bytes_view(a), bytes_view(b));
}

// __init__(self, client_repository)
nb::object VerifyClientService_init(Call& c) {
    c[0].attr("client_repository") = c[1];
    c[0].attr("client_helper") = c.global("ClientHelper")();
    return nb::none();
}

// is_api_key_valid(self, client_api_key): an active stored client whose
// secret is the key's. A key that cannot be read raises.
nb::object VerifyClientService_is_api_key_valid(Call& c) {
    nb::handle self = c[0];
    nb::object presented = self.attr("client_helper").attr("to_client")(c[1]);
    nb::object client = self.attr("client_repository").attr("get_client_by_id")(presented.attr("id"));
    if (client.is_none() || !truthy(client.attr("is_active"))) return nb::bool_(false);
    return nb::bool_(secrets_equal(presented.attr("secret"), client.attr("secret")));
}

// verify_api_key(self, client_api_key)
nb::object VerifyClientService_verify_api_key(Call& c) {
    if (!truthy(c[0].attr("is_api_key_valid")(c[1]))) {
        raise(c.global("InvalidClientException").ptr(), "Invalid API Key.");
    }
    return nb::none();
}

}  // namespace

void build_zunt_core_authentication_client_service_verify_client_service(ModuleScope& m) {
    m.doc("Verify client service.");
    m.from_import("zunt_core.authentication.client.helper.helper", {"ClientHelper"});
    m.from_import("zunt_core.authentication.client.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.exception", {"InvalidClientException"});

    nb::object str = builtin("str");
    ClassBuilder cls(m, "VerifyClientService", "Checks client API keys.");
    cls.method({.name = "__init__", .params = {arg("self"), arg("client_repository", m.get("BaseRepository"))},
                .impl = VerifyClientService_init, .doc = "Keep the client repository and make a key helper.",
                .returns = nb::none()})
        .method({.name = "verify_api_key", .params = {arg("self"), arg("client_api_key", str)},
                 .impl = VerifyClientService_verify_api_key,
                 .doc = "Raise InvalidClientException unless the key is the key of an active client.",
                 .returns = nb::none()})
        .method({.name = "is_api_key_valid", .params = {arg("self"), arg("client_api_key", str)},
                 .impl = VerifyClientService_is_api_key_valid, .doc = "Whether the key is the key of an active client.",
                 .returns = builtin("bool")});
    cls.build();
}

}  // namespace zunt
