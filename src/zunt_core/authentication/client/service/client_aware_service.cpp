// zunt_core.authentication.client.service.client_aware_service: resolving the
// calling client from its API key.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// __init__(self, client_repository): its own key verifier on that repository.
nb::object ClientAwareService_init(Call& c) {
    nb::handle self = c[0];
    self.attr("client_repository") = c[1];
    self.attr("verify_client_service") = c.global("VerifyClientService")(c[1]);
    self.attr("client_helper") = c.global("ClientHelper")();
    return nb::none();
}

// get_client_id_by_api_key(self, api_key): the id of the verified key.
nb::object ClientAwareService_get_client_id_by_api_key(Call& c) {
    nb::handle self = c[0];
    self.attr("verify_client_service").attr("verify_api_key")(c[1]);
    return self.attr("client_helper").attr("to_client")(c[1]).attr("id");
}

nb::object found_or_raise(Call& c, nb::object client) {
    if (client.is_none()) raise(c.global("InvalidClientException").ptr(), "Client not found.");
    return client;
}

// get_client_by_api_key(self, api_key)
nb::object ClientAwareService_get_client_by_api_key(Call& c) {
    nb::handle self = c[0];
    nb::object client_id = self.attr("get_client_id_by_api_key")(c[1]);
    return found_or_raise(c, self.attr("client_repository").attr("get_client_by_id")(client_id));
}

// get_client_by_id(self, client_id)
nb::object ClientAwareService_get_client_by_id(Call& c) {
    return found_or_raise(c, c[0].attr("client_repository").attr("get_client_by_id")(c[1]));
}

}  // namespace

void build_zunt_core_authentication_client_service_client_aware_service(ModuleScope& m) {
    m.doc("Client aware service.");
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.client.helper.helper", {"ClientHelper"});
    m.from_import("zunt_core.authentication.client.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.authentication.client.repository.models", {"ClientModel"});
    m.from_import("zunt_core.authentication.client.service.verify_client_service", {"VerifyClientService"});
    m.from_import("zunt_core.exception", {"InvalidClientException"});

    nb::object str = builtin("str");
    nb::object ClientModel = m.get("ClientModel");
    ClassBuilder cls(m, "ClientAwareService", "Resolves the calling client from its API key.");
    cls.method({.name = "__init__", .params = {arg("self"), arg("client_repository", m.get("BaseRepository"))},
                .impl = ClientAwareService_init,
                .doc = "Keep the client repository; make a key verifier and a key helper.",
                .returns = nb::none()})
        .method({.name = "get_client_by_api_key", .params = {arg("self"), arg("api_key", str)},
                 .impl = ClientAwareService_get_client_by_api_key, .doc = "The calling client.",
                 .returns = ClientModel})
        .method({.name = "get_client_id_by_api_key", .params = {arg("self"), arg("api_key", str)},
                 .impl = ClientAwareService_get_client_id_by_api_key, .doc = "The calling client's id.",
                 .returns = m.get("UUID")})
        .method({.name = "get_client_by_id", .params = {arg("self"), arg("client_id", m.get("UUID"))},
                 .impl = ClientAwareService_get_client_by_id, .doc = "The active client with that id.",
                 .returns = ClientModel});
    cls.build();
}

}  // namespace zunt
