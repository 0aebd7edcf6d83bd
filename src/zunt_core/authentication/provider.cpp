// zunt_core.authentication.provider: assembling the authentication component
// on one data store and publishing its services.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// init_auth_services(settings): connect, bring the schema up to date, build
// the four repositories and the ten services, then publish them. Nothing is
// published when a step fails.
nb::object init_auth_services(Call& c) {
    nb::object data_store =
        c.global("SQLAlchemySQLDataStore")(nb::arg("engine_or_url") = c[0].attr("database_authentication_url"));
    c.global("initialize_authentication_db")(data_store);

    nb::object client_repository = c.global("SqlAlchemyClientRepository")(data_store);
    nb::object user_repository = c.global("SqlAlchemyUserRepository")(data_store);
    nb::object token_repository = c.global("SqlAlchemyTokenRepository")(data_store);
    nb::object integration_repository = c.global("SqlAlchemyThirdPartyIntegrationRepository")(data_store);

    nb::object create_client = c.global("CreateClientService")(client_repository);
    nb::object client_aware = c.global("ClientAwareService")(client_repository);
    nb::object verify_client = c.global("VerifyClientService")(client_repository);
    nb::object integrations = c.global("ThirdPartyIntegrationService")(integration_repository);
    nb::object create_token = c.global("CreateTokenService")(token_repository);
    nb::object verify_token = c.global("VerifyTokenService")(token_repository, client_aware);
    nb::object revoke_token = c.global("RevokeTokenService")(token_repository, client_aware);
    nb::object get_user = c.global("GetUserService")(user_repository, client_aware, integrations);
    nb::object create_user = c.global("CreateUserService")(user_repository, client_aware);
    nb::object authenticate_user = c.global("AuthenticateUserService")(create_token, get_user);

    nb::dict services;
    services["create_client_service"] = create_client;
    services["client_aware_service"] = client_aware;
    services["verify_client_service"] = verify_client;
    services["create_user_service"] = create_user;
    services["get_user_service"] = get_user;
    services["authenticate_user_service"] = authenticate_user;
    services["create_token_service"] = create_token;
    services["verify_token_service"] = verify_token;
    services["revoke_token_service"] = revoke_token;
    services["third_party_integration_service"] = integrations;
    c.global("set_services")(services);
    return nb::none();
}

}  // namespace

void build_zunt_core_authentication_provider(ModuleScope& m) {
    m.doc("Authentication service provider.");
    m.from_import("zunt_core.authentication.config", {"AuthenticationDbSettings"});
    m.from_import("zunt_core.authentication.database", {"SQLAlchemySQLDataStore", "initialize_authentication_db"});
    m.from_import("zunt_core.authentication.client.repository.sqlalchemy.repository", {"SqlAlchemyClientRepository"});
    m.from_import("zunt_core.authentication.user.repository.sqlalchemy.repository", {"SqlAlchemyUserRepository"});
    m.from_import("zunt_core.authentication.token.repository.sqlalchemy.repository", {"SqlAlchemyTokenRepository"});
    m.from_import("zunt_core.authentication.plugin.repository.sqlalchemy.repository",
                  {"SqlAlchemyThirdPartyIntegrationRepository"});
    m.from_import("zunt_core.authentication.client.service",
                  {"ClientAwareService", "CreateClientService", "VerifyClientService"});
    m.from_import("zunt_core.authentication.plugin.service", {"ThirdPartyIntegrationService"});
    m.from_import("zunt_core.authentication.token.service",
                  {"CreateTokenService", "RevokeTokenService", "VerifyTokenService"});
    m.from_import("zunt_core.authentication.user.service",
                  {"AuthenticateUserService", "CreateUserService", "GetUserService"});
    m.from_import("zunt_core.authentication.service", {"set_services"});

    m.def({.name = "init_auth_services",
           .params = {arg("settings", m.get("AuthenticationDbSettings"))},
           .impl = init_auth_services,
           .doc = "Start the authentication component: connect, migrate, build and publish the ten services.",
           .returns = nb::none()});
}

}  // namespace zunt
