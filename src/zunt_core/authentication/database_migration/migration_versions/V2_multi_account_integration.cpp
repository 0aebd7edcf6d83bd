// Migration 2: several stored credentials per user and connector. The unique
// key of the integrations grows by user_identifier, each integration gains
// `selected` and `created_at`, and user identifiers become unique per client.
// Every step looks before it changes anything, so applying the migration
// over a schema that already has it changes nothing and keeps every row.
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/logging.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

constexpr const char* integrations = "third_party_integration_auths";

bool has_named(nb::handle reported, nb::handle name) {
    for (nb::handle item : reported) {
        if (nb::object(item["name"]).equal(name)) return true;
    }
    return false;
}

// _table_has_unique_constraint(self, inspector, table_name, constraint_name)
nb::object V2multiAccountIntegration_table_has_unique_constraint(Call& c) {
    nb::object reported = c[1].attr("get_unique_constraints")(c[2]);
    return nb::bool_(has_named(reported, c[3]));
}

bool has_column(nb::handle inspector, const char* table, const char* column) {
    return has_named(inspector.attr("get_columns")(table), nb::str(column));
}

// migrate(self, engine)
nb::object V2multiAccountIntegration_migrate(Call& c) {
    nb::handle self = c[0];
    nb::handle engine = c[1];
    log(c, "debug", "Applying migration %s: %s", self.attr("version"), self.attr("description"));
    with_context(engine.attr("begin")(), [&](nb::object connection) {
        nb::object ops = c.global("Operations")(c.global("MigrationContext").attr("configure")(connection));
        nb::object sa = c.global("sqlalchemy");
        // On the engine: sees committed state only.
        nb::object inspector = sa.attr("inspect")(engine);
        auto has_unique = [&](const char* table, const char* name) {
            return truthy(self.attr("_table_has_unique_constraint")(inspector, table, name));
        };
        const bool had_selected = has_column(inspector, integrations, "selected");
        const bool had_created_at = has_column(inspector, integrations, "created_at");

        if (!has_unique("users", "uix_identifier_client")) {
            nb::list columns;
            for (const char* column : {"identifier", "client_id"}) columns.append(column);
            ops.attr("create_unique_constraint")("uix_identifier_client", "users", columns);
        } else {
            log(c, "debug", "Constraint 'uix_identifier_client' already exists");
        }

        if (has_unique(integrations, "uix_client_user_connector")) {
            ops.attr("drop_constraint")("uix_client_user_connector", integrations, nb::arg("type_") = "unique");
        } else {
            log(c, "debug", "Constraint 'uix_client_user_connector' does not exist");
        }

        if (!has_unique(integrations, "uix_client_user_connector_user_identifier")) {
            nb::list columns;
            for (const char* column : {"client_id", "user_id", "connector", "user_identifier"}) columns.append(column);
            ops.attr("create_unique_constraint")("uix_client_user_connector_user_identifier", integrations, columns);
        } else {
            log(c, "debug", "Constraint 'uix_client_user_connector_user_identifier' already exists");
        }

        nb::object Column = sa.attr("Column");
        if (!had_selected) {
            ops.attr("add_column")(integrations, Column("selected", sa.attr("Boolean"), nb::arg("default") = false,
                                                        nb::arg("nullable") = true));
        }
        if (!had_created_at) {
            ops.attr("add_column")(integrations,
                                   Column("created_at", sa.attr("DateTime"),
                                          nb::arg("default") = sa.attr("func").attr("now")(),
                                          nb::arg("nullable") = true));
        }
        // Only rows without a value: on the first application that is every
        // row (both columns are new); a repeated one keeps what rows hold.
        ops.attr("execute")(
            "UPDATE third_party_integration_auths SET created_at = COALESCE(created_at, now()), "
            "selected = COALESCE(selected, True) WHERE created_at IS NULL OR selected IS NULL");
        ops.attr("alter_column")(integrations, "selected", nb::arg("nullable") = false);
        ops.attr("alter_column")(integrations, "created_at", nb::arg("nullable") = false);
        self.attr("record_version")(connection);
    });
    return nb::none();
}

}  // namespace

void build_zunt_core_authentication_database_migration_migration_versions_V2_multi_account_integration(
    ModuleScope& m) {
    m.doc("Multi Account Integration.");
    m.import_bind("logging");
    m.import_bind("sqlalchemy");
    m.from_import("alembic.migration", {"MigrationContext"});
    m.from_import("alembic.operations", {"Operations"});
    m.from_import("zunt_core.authentication.database_migration.base_migration", {"DbMigration"});

    nb::object sa = m.get("sqlalchemy");
    nb::object str = builtin("str");
    ClassBuilder cls(m, "V2multiAccountIntegration", nb::make_tuple(m.get("DbMigration")), nullptr);
    cls.annotate("version", builtin("int"))
        .attr("version", nb::int_(2))
        .annotate("description", str)
        .attr("description", nb::str("Multi Account Integration"))
        .method({.name = "migrate", .params = {arg("self"), arg("engine", sa.attr("Engine"))},
                 .impl = V2multiAccountIntegration_migrate,
                 .doc = "Let a user hold several credentials per connector, and make user identifiers unique per "
                        "client."})
        .method({.name = "_table_has_unique_constraint",
                 .params = {arg("self"), arg("inspector", sa.attr("Inspector")), arg("table_name", str),
                            arg("constraint_name", str)},
                 .impl = V2multiAccountIntegration_table_has_unique_constraint,
                 .doc = "Whether the table has a unique constraint of that name.",
                 .returns = builtin("bool")});
    cls.build();
}

}  // namespace zunt
