// zunt_core.authentication.client.service.create_client_service: registering
// an API client and handing out its key, once.
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// __init__(self, client_repository)
nb::object CreateClientService_init(Call& c) {
    c[0].attr("client_repository") = c[1];
    c[0].attr("client_helper") = c.global("ClientHelper")();
    return nb::none();
}

// create_client(self, client_name): the stored client, with its API key built
// from what the repository stored.
nb::object CreateClientService_create_client(Call& c) {
    nb::handle self = c[0];
    nb::object helper = self.attr("client_helper");
    nb::object client_id = c.global("uuid").attr("uuid4")();
    nb::object secret = helper.attr("generate_secret")();
    nb::object basic = c.global("ClientBasic")(nb::arg("id") = client_id, nb::arg("name") = c[1],
                                               nb::arg("secret") = secret);
    nb::object created = self.attr("client_repository").attr("create_client")(basic);
    return c.global("Client")(nb::arg("id") = created.attr("id"), nb::arg("name") = created.attr("name"),
                              nb::arg("api_key") = helper.attr("build_api_key")(created),
                              nb::arg("is_active") = created.attr("is_active"),
                              nb::arg("created_at") = created.attr("created_at"));
}

}  // namespace

void build_zunt_core_authentication_client_service_create_client_service(ModuleScope& m) {
    m.doc("Create client service.");
    m.import_bind("uuid");
    m.from_import("zunt_core.authentication.client.helper.helper", {"ClientHelper"});
    m.from_import("zunt_core.authentication.client.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.authentication.client.repository.models", {"Client", "ClientBasic"});

    ClassBuilder cls(m, "CreateClientService", "Registers API clients.");
    cls.method({.name = "__init__", .params = {arg("self"), arg("client_repository", m.get("BaseRepository"))},
                .impl = CreateClientService_init, .doc = "Keep the client repository and make a key helper.",
                .returns = nb::none()})
        .method({.name = "create_client", .params = {arg("self"), arg("client_name", builtin("str"))},
                 .impl = CreateClientService_create_client,
                 .doc = "Register a new active client; the only answer that carries its API key.",
                 .returns = m.get("Client")});
    cls.build();
}

}  // namespace zunt
