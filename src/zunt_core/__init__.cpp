// The package binary: its init installs the importer that serves every other
// module of the tree from the table below, then builds the root package.
#include "runtime/coroutine.hpp"
#include "runtime/function.hpp"
#include "runtime/importer.hpp"
#include "zunt_core/modules.hpp"

#include <iterator>

namespace zunt {

namespace {

const rt::ModuleEntry module_table[] = {
    {"zunt_core.authentication", true, build_zunt_core_authentication},
    {"zunt_core.authentication.client", true, build_zunt_core_authentication_client},
    {"zunt_core.authentication.client.repository", true, build_zunt_core_authentication_client_repository},
    {"zunt_core.authentication.client.repository.base_repository", false, build_zunt_core_authentication_client_repository_base_repository},
    {"zunt_core.authentication.client.repository.models", false, build_zunt_core_authentication_client_repository_models},
    {"zunt_core.authentication.client.repository.sqlalchemy", true, build_zunt_core_authentication_client_repository_sqlalchemy},
    {"zunt_core.authentication.client.repository.sqlalchemy.models", false, build_zunt_core_authentication_client_repository_sqlalchemy_models},
    {"zunt_core.authentication.client.repository.sqlalchemy.repository", false, build_zunt_core_authentication_client_repository_sqlalchemy_repository},
    {"zunt_core.authentication.plugin", true, build_zunt_core_authentication_plugin},
    {"zunt_core.authentication.plugin.repository", true, nullptr},
    {"zunt_core.authentication.plugin.repository.base_repository", false, build_zunt_core_authentication_plugin_repository_base_repository},
    {"zunt_core.authentication.plugin.repository.models", false, build_zunt_core_authentication_plugin_repository_models},
    {"zunt_core.authentication.plugin.repository.sqlalchemy", true, build_zunt_core_authentication_plugin_repository_sqlalchemy},
    {"zunt_core.authentication.plugin.repository.sqlalchemy.models", false, build_zunt_core_authentication_plugin_repository_sqlalchemy_models},
    {"zunt_core.authentication.plugin.repository.sqlalchemy.repository", false, build_zunt_core_authentication_plugin_repository_sqlalchemy_repository},
    {"zunt_core.authentication.token", true, build_zunt_core_authentication_token},
    {"zunt_core.authentication.token.repository", true, build_zunt_core_authentication_token_repository},
    {"zunt_core.authentication.token.repository.base_repository", false, build_zunt_core_authentication_token_repository_base_repository},
    {"zunt_core.authentication.token.repository.models", false, build_zunt_core_authentication_token_repository_models},
    {"zunt_core.authentication.token.repository.sqlalchemy", true, build_zunt_core_authentication_token_repository_sqlalchemy},
    {"zunt_core.authentication.token.repository.sqlalchemy.models", false, build_zunt_core_authentication_token_repository_sqlalchemy_models},
    {"zunt_core.authentication.token.repository.sqlalchemy.repository", false, build_zunt_core_authentication_token_repository_sqlalchemy_repository},
    {"zunt_core.authentication.user", true, build_zunt_core_authentication_user},
    {"zunt_core.authentication.user.repository", true, build_zunt_core_authentication_user_repository},
    {"zunt_core.authentication.user.repository.base_repository", false, build_zunt_core_authentication_user_repository_base_repository},
    {"zunt_core.authentication.user.repository.models", false, build_zunt_core_authentication_user_repository_models},
    {"zunt_core.authentication.user.repository.sqlalchemy", true, build_zunt_core_authentication_user_repository_sqlalchemy},
    {"zunt_core.authentication.user.repository.sqlalchemy.models", false, build_zunt_core_authentication_user_repository_sqlalchemy_models},
    {"zunt_core.authentication.user.repository.sqlalchemy.repository", false, build_zunt_core_authentication_user_repository_sqlalchemy_repository},
    {"zunt_core.authentication.client.helper", true, build_zunt_core_authentication_client_helper},
    {"zunt_core.authentication.client.helper.helper", false, build_zunt_core_authentication_client_helper_helper},
    {"zunt_core.authentication.client.service", true, build_zunt_core_authentication_client_service},
    {"zunt_core.authentication.client.service.client_aware_service", false, build_zunt_core_authentication_client_service_client_aware_service},
    {"zunt_core.authentication.client.service.create_client_service", false, build_zunt_core_authentication_client_service_create_client_service},
    {"zunt_core.authentication.client.service.verify_client_service", false, build_zunt_core_authentication_client_service_verify_client_service},
    {"zunt_core.authentication.plugin.service", true, build_zunt_core_authentication_plugin_service},
    {"zunt_core.authentication.plugin.service.third_party_integration_service", false, build_zunt_core_authentication_plugin_service_third_party_integration_service},
    {"zunt_core.authentication.provider", false, build_zunt_core_authentication_provider},
    {"zunt_core.authentication.service", false, build_zunt_core_authentication_service},
    {"zunt_core.authentication.token.service", true, build_zunt_core_authentication_token_service},
    {"zunt_core.authentication.token.service.create_token_service", false, build_zunt_core_authentication_token_service_create_token_service},
    {"zunt_core.authentication.token.service.revoke_token_service", false, build_zunt_core_authentication_token_service_revoke_token_service},
    {"zunt_core.authentication.token.service.verify_token_service", false, build_zunt_core_authentication_token_service_verify_token_service},
    {"zunt_core.authentication.user.helper", true, build_zunt_core_authentication_user_helper},
    {"zunt_core.authentication.user.helper.helper", false, build_zunt_core_authentication_user_helper_helper},
    {"zunt_core.authentication.user.service", true, build_zunt_core_authentication_user_service},
    {"zunt_core.authentication.user.service.authentication_service", false, build_zunt_core_authentication_user_service_authentication_service},
    {"zunt_core.authentication.user.service.create_user_service", false, build_zunt_core_authentication_user_service_create_user_service},
    {"zunt_core.authentication.user.service.get_user_service", false, build_zunt_core_authentication_user_service_get_user_service},
    {"zunt_core.authentication.common", true, build_zunt_core_authentication_common},
    {"zunt_core.authentication.common.base64_helper", false, build_zunt_core_authentication_common_base64_helper},
    {"zunt_core.authentication.config", false, build_zunt_core_authentication_config},
    {"zunt_core.authentication.database", false, build_zunt_core_authentication_database},
    {"zunt_core.authentication.database_migration", true, build_zunt_core_authentication_database_migration},
    {"zunt_core.authentication.database_migration.base_migration", false, build_zunt_core_authentication_database_migration_base_migration},
    {"zunt_core.authentication.database_migration.migration", false, build_zunt_core_authentication_database_migration_migration},
    {"zunt_core.authentication.database_migration.migration_versions", true, build_zunt_core_authentication_database_migration_migration_versions},
    {"zunt_core.authentication.database_migration.migration_versions.V1_init_table_auth", false, build_zunt_core_authentication_database_migration_migration_versions_V1_init_table_auth},
    {"zunt_core.authentication.database_migration.migration_versions.V2_multi_account_integration", false, build_zunt_core_authentication_database_migration_migration_versions_V2_multi_account_integration},
    {"zunt_core.authentication.database_migration.migration_versions.V3_add_integration_indexes", false, build_zunt_core_authentication_database_migration_migration_versions_V3_add_integration_indexes},
    {"zunt_core.authentication.security", true, build_zunt_core_authentication_security},
    {"zunt_core.authentication.security.argon2", false, build_zunt_core_authentication_security_argon2},
    {"zunt_core.authentication.security.hash", false, build_zunt_core_authentication_security_hash},
    {"zunt_core.exception", true, build_zunt_core_exception},
    {"zunt_core.exception.base", false, build_zunt_core_exception_base},
    {"zunt_core.helpers", true, build_zunt_core_helpers},
    {"zunt_core.helpers.json", false, build_zunt_core_helpers_json},
    {"zunt_core.logger", true, build_zunt_core_logger},
    {"zunt_core.logger.regex_pii_logger_handler", false, build_zunt_core_logger_regex_pii_logger_handler},
    {"zunt_core.logger.ner_pii_logger_handler", false, build_zunt_core_logger_ner_pii_logger_handler},
    {"zunt_core.plugin", true, build_zunt_core_plugin},
    {"zunt_core.plugin.registry", false, build_zunt_core_plugin_registry},
    {"zunt_core.plugin.handler", false, build_zunt_core_plugin_handler},
    {"zunt_core.plugin.plugin", false, build_zunt_core_plugin_plugin},
    {"zunt_core.plugin.manager", false, build_zunt_core_plugin_manager},
    {"zunt_core.services", true, build_zunt_core_services},
    {"zunt_core.services.config", false, build_zunt_core_services_config},
    // Telemetry
    {"zunt_core.telemetry", true, build_zunt_core_telemetry},
    {"zunt_core.telemetry.initializer", false, build_zunt_core_telemetry_initializer},
    {"zunt_core.telemetry.opentelemetry", true, build_zunt_core_telemetry_opentelemetry},
    {"zunt_core.telemetry.opentelemetry.initializer", false, build_zunt_core_telemetry_opentelemetry_initializer},
    {"zunt_core.telemetry.opentelemetry.instrument", true, build_zunt_core_telemetry_opentelemetry_instrument},
    {"zunt_core.telemetry.opentelemetry.instrument.functions", false,
     build_zunt_core_telemetry_opentelemetry_instrument_functions},
    {"zunt_core.telemetry.sentry", true, build_zunt_core_telemetry_sentry},
    {"zunt_core.telemetry.sentry.initializer", false, build_zunt_core_telemetry_sentry_initializer},
};

}  // namespace

void build_zunt_core(ModuleScope& m) {
    m.doc("ZUNT Core Library Module.");
    m.from_import("zunt_core.plugin.handler", {"PluginHandler"});
    m.from_import("zunt_core.plugin.manager", {"PluginManager"});
    m.from_import("zunt_core.plugin.plugin", {"Plugin"});
    m.from_import("zunt_core.services.config", {"ConfigService"});
    m.set_all({"PluginManager", "PluginHandler", "Plugin", "ConfigService"});
}

}  // namespace zunt

NB_MODULE(zunt_core, m) {
    zunt::rt::init_function_type();
    zunt::rt::init_coroutine_type();
    zunt::rt::install_importer(m, zunt::module_table, std::size(zunt::module_table));
    zunt::ModuleScope scope(m);
    zunt::build_zunt_core(scope);
}
