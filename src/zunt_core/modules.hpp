// Builders of the package's modules, one per module, named after the module.
// Each lives in the source file that mirrors its module's path.
#pragma once

#include "runtime/builder.hpp"

namespace zunt {

using rt::ModuleScope;

void build_zunt_core(ModuleScope& m);
void build_zunt_core_authentication(ModuleScope& m);
void build_zunt_core_authentication_client(ModuleScope& m);
void build_zunt_core_authentication_client_repository(ModuleScope& m);
void build_zunt_core_authentication_client_repository_base_repository(ModuleScope& m);
void build_zunt_core_authentication_client_repository_models(ModuleScope& m);
void build_zunt_core_authentication_client_repository_sqlalchemy(ModuleScope& m);
void build_zunt_core_authentication_client_repository_sqlalchemy_models(ModuleScope& m);
void build_zunt_core_authentication_client_repository_sqlalchemy_repository(ModuleScope& m);
void build_zunt_core_authentication_plugin(ModuleScope& m);
void build_zunt_core_authentication_plugin_repository_base_repository(ModuleScope& m);
void build_zunt_core_authentication_plugin_repository_models(ModuleScope& m);
void build_zunt_core_authentication_plugin_repository_sqlalchemy(ModuleScope& m);
void build_zunt_core_authentication_plugin_repository_sqlalchemy_models(ModuleScope& m);
void build_zunt_core_authentication_plugin_repository_sqlalchemy_repository(ModuleScope& m);
void build_zunt_core_authentication_token(ModuleScope& m);
void build_zunt_core_authentication_token_repository(ModuleScope& m);
void build_zunt_core_authentication_token_repository_base_repository(ModuleScope& m);
void build_zunt_core_authentication_token_repository_models(ModuleScope& m);
void build_zunt_core_authentication_token_repository_sqlalchemy(ModuleScope& m);
void build_zunt_core_authentication_token_repository_sqlalchemy_models(ModuleScope& m);
void build_zunt_core_authentication_token_repository_sqlalchemy_repository(ModuleScope& m);
void build_zunt_core_authentication_user(ModuleScope& m);
void build_zunt_core_authentication_user_repository(ModuleScope& m);
void build_zunt_core_authentication_user_repository_base_repository(ModuleScope& m);
void build_zunt_core_authentication_user_repository_models(ModuleScope& m);
void build_zunt_core_authentication_user_repository_sqlalchemy(ModuleScope& m);
void build_zunt_core_authentication_user_repository_sqlalchemy_models(ModuleScope& m);
void build_zunt_core_authentication_user_repository_sqlalchemy_repository(ModuleScope& m);
void build_zunt_core_authentication_client_helper(ModuleScope& m);
void build_zunt_core_authentication_client_helper_helper(ModuleScope& m);
void build_zunt_core_authentication_client_service(ModuleScope& m);
void build_zunt_core_authentication_client_service_client_aware_service(ModuleScope& m);
void build_zunt_core_authentication_client_service_create_client_service(ModuleScope& m);
void build_zunt_core_authentication_client_service_verify_client_service(ModuleScope& m);
void build_zunt_core_authentication_plugin_service(ModuleScope& m);
void build_zunt_core_authentication_plugin_service_third_party_integration_service(ModuleScope& m);
void build_zunt_core_authentication_provider(ModuleScope& m);
void build_zunt_core_authentication_service(ModuleScope& m);
void build_zunt_core_authentication_token_service(ModuleScope& m);
void build_zunt_core_authentication_token_service_create_token_service(ModuleScope& m);
void build_zunt_core_authentication_token_service_revoke_token_service(ModuleScope& m);
void build_zunt_core_authentication_token_service_verify_token_service(ModuleScope& m);
void build_zunt_core_authentication_user_helper(ModuleScope& m);
void build_zunt_core_authentication_user_helper_helper(ModuleScope& m);
void build_zunt_core_authentication_user_service(ModuleScope& m);
void build_zunt_core_authentication_user_service_authentication_service(ModuleScope& m);
void build_zunt_core_authentication_user_service_create_user_service(ModuleScope& m);
void build_zunt_core_authentication_user_service_get_user_service(ModuleScope& m);
void build_zunt_core_authentication_common(ModuleScope& m);
void build_zunt_core_authentication_common_base64_helper(ModuleScope& m);
void build_zunt_core_authentication_config(ModuleScope& m);
void build_zunt_core_authentication_database(ModuleScope& m);
void build_zunt_core_authentication_database_migration(ModuleScope& m);
void build_zunt_core_authentication_database_migration_base_migration(ModuleScope& m);
void build_zunt_core_authentication_database_migration_migration(ModuleScope& m);
void build_zunt_core_authentication_database_migration_migration_versions(ModuleScope& m);
void build_zunt_core_authentication_database_migration_migration_versions_V1_init_table_auth(ModuleScope& m);
void build_zunt_core_authentication_database_migration_migration_versions_V2_multi_account_integration(ModuleScope& m);
void build_zunt_core_authentication_database_migration_migration_versions_V3_add_integration_indexes(ModuleScope& m);
void build_zunt_core_authentication_security(ModuleScope& m);
void build_zunt_core_authentication_security_argon2(ModuleScope& m);
void build_zunt_core_authentication_security_hash(ModuleScope& m);
void build_zunt_core_exception(ModuleScope& m);
void build_zunt_core_exception_base(ModuleScope& m);
void build_zunt_core_helpers(ModuleScope& m);
void build_zunt_core_helpers_json(ModuleScope& m);
void build_zunt_core_logger(ModuleScope& m);
void build_zunt_core_logger_regex_pii_logger_handler(ModuleScope& m);
void build_zunt_core_logger_ner_pii_logger_handler(ModuleScope& m);
void build_zunt_core_plugin(ModuleScope& m);
void build_zunt_core_plugin_registry(ModuleScope& m);
void build_zunt_core_plugin_handler(ModuleScope& m);
void build_zunt_core_plugin_plugin(ModuleScope& m);
void build_zunt_core_plugin_manager(ModuleScope& m);
void build_zunt_core_services(ModuleScope& m);
void build_zunt_core_services_config(ModuleScope& m);

// Telemetry
void build_zunt_core_telemetry(ModuleScope& m);
void build_zunt_core_telemetry_initializer(ModuleScope& m);
void build_zunt_core_telemetry_opentelemetry(ModuleScope& m);
void build_zunt_core_telemetry_opentelemetry_initializer(ModuleScope& m);
void build_zunt_core_telemetry_opentelemetry_instrument(ModuleScope& m);
void build_zunt_core_telemetry_opentelemetry_instrument_functions(ModuleScope& m);
void build_zunt_core_telemetry_sentry(ModuleScope& m);
void build_zunt_core_telemetry_sentry_initializer(ModuleScope& m);

}  // namespace zunt
