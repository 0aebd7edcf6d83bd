// zunt_core.authentication.user.service.get_user_service: finding users of the
// calling client, and a user with its integrations.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// get_user(self, api_key, user_id)
nb::object GetUserService_get_user(Call& c) {
    nb::handle self = c[0];
    nb::object client = self.attr("client_aware_service").attr("get_client_by_api_key")(c[1]);
    return self.attr("get_user_by_client_id")(client.attr("id"), c[2]);
}

// get_user_by_client_id(self, client_id, user_id)
nb::object GetUserService_get_user_by_client_id(Call& c) {
    return c[0].attr("user_repository").attr("get_user")(c[1], c[2]);
}

// get_user_by_identifier(self, api_key, identifier)
nb::object GetUserService_get_user_by_identifier(Call& c) {
    nb::handle self = c[0];
    nb::object client = self.attr("client_aware_service").attr("get_client_by_api_key")(c[1]);
    return self.attr("user_repository").attr("get_user_by_identifier")(client.attr("id"), c[2]);
}

// get_user_complete(self, api_key, user_id): the user with every integration
// (held as basic integration records); None when the client has no such user.
nb::object GetUserService_get_user_complete(Call& c) {
    nb::handle self = c[0];
    nb::handle user_id = c[2];
    nb::object client_id = self.attr("client_aware_service").attr("get_client_id_by_api_key")(c[1]);
    nb::object user = self.attr("get_user_by_client_id")(client_id, user_id);
    nb::object integrations = self.attr("third_party_integration_service").attr("get_integrations")(client_id, user_id);
    nb::object validate = c.global("ThirdPartyIntegrationAuthBasic").attr("model_validate");
    nb::list basics;
    for (nb::handle integration : integrations) basics.append(validate(integration));
    if (user.is_none()) return nb::none();
    return c.global("UserComplete")(nb::arg("id") = user.attr("id"),
                                    nb::arg("secret_preview") = user.attr("secret_preview"),
                                    nb::arg("identifier") = user.attr("identifier"),
                                    nb::arg("is_active") = user.attr("is_active"), nb::arg("client_id") = client_id,
                                    nb::arg("integrations") = basics);
}

}  // namespace

void build_zunt_core_authentication_user_service_get_user_service(ModuleScope& m) {
    m.doc("Get user service.");
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.client.service.client_aware_service", {"ClientAwareService"});
    m.from_import("zunt_core.authentication.plugin.repository.models", {"ThirdPartyIntegrationAuthBasic"});
    m.from_import("zunt_core.authentication.plugin.service.third_party_integration_service",
                  {"ThirdPartyIntegrationService"});
    m.from_import("zunt_core.authentication.user.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.authentication.user.repository.models", {"UserComplete", "UserModel"});

    nb::object str = builtin("str");
    nb::object UUID = m.get("UUID");
    nb::object optional_user = optional_of(m.get("UserModel"));
    ClassBuilder cls(m, "GetUserService", "Finds users of the calling client.");
    cls.storing_init({arg("user_repository", m.get("BaseRepository")),
                      arg("client_aware_service", m.get("ClientAwareService")),
                      arg("third_party_integration_service", m.get("ThirdPartyIntegrationService"))},
                     {"client_aware_service", "user_repository", "third_party_integration_service"},
                     "Keep the repository, the client resolver and the integration service.")
        .method({.name = "get_user", .params = {arg("self"), arg("api_key", str), arg("user_id", UUID)},
                 .impl = GetUserService_get_user,
                 .doc = "The user of the calling client with that id, or None.", .returns = optional_user})
        .method({.name = "get_user_by_client_id", .params = {arg("self"), arg("client_id", UUID), arg("user_id", UUID)},
                 .impl = GetUserService_get_user_by_client_id, .doc = "The user of that client with that id, or None.",
                 .returns = optional_user})
        .method({.name = "get_user_by_identifier", .params = {arg("self"), arg("api_key", str), arg("identifier", str)},
                 .impl = GetUserService_get_user_by_identifier,
                 .doc = "The user of the calling client with that identifier, or None.", .returns = optional_user})
        .method({.name = "get_user_complete", .params = {arg("self"), arg("api_key", str), arg("user_id", UUID)},
                 .impl = GetUserService_get_user_complete,
                 .doc = "The user of the calling client with its integrations, or None when it has no such user.",
                 .returns = optional_of(m.get("UserComplete"))});
    cls.build();
}

}  // namespace zunt
