// Migration 1: the four tables of the authentication component. A table that
// exists is left as it is, so the migration can be applied again.
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/logging.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

struct TableSpec {
    const char* name;
    const char* created;
    const char* exists;
    nb::object (*columns)(Call&, nb::handle sa);  // a tuple of Column objects
};

// The client-side defaults below only describe the columns; the tables are
// never written through these objects, so none reaches the database.

// Every table's key: a random UUID, primary and indexed.
nb::object id_column(Call& c, nb::handle sa, nb::handle type) {
    return sa.attr("Column")("id", type, nb::arg("primary_key") = true, nb::arg("index") = true,
                             nb::arg("default") = c.global("uuid").attr("uuid4"));
}

nb::object clients_columns(Call& c, nb::handle sa) {
    nb::object Column = sa.attr("Column");
    nb::object UUID = sa.attr("UUID");
    nb::object String = sa.attr("String");
    return nb::make_tuple(
        id_column(c, sa, UUID),
        Column("name", String, nb::arg("unique") = true, nb::arg("index") = true),
        Column("secret", String, nb::arg("unique") = true, nb::arg("index") = true),
        Column("is_active", sa.attr("Boolean"), nb::arg("default") = true),
        Column("created_at", sa.attr("DateTime"), nb::arg("default") = c.global("datetime").attr("now")));
}

nb::object users_columns(Call& c, nb::handle sa) {
    nb::object Column = sa.attr("Column");
    nb::object UUID = sa.attr("UUID");
    nb::object String = sa.attr("String");
    return nb::make_tuple(
        id_column(c, sa, UUID),
        Column("identifier", String, nb::arg("unique") = true, nb::arg("index") = true),
        Column("secret", String),
        Column("secret_preview", String),
        Column("is_active", sa.attr("Boolean"), nb::arg("default") = true),
        Column("client_id", UUID, sa.attr("ForeignKey")("clients.id")));
}

nb::object tokens_columns(Call& c, nb::handle sa) {
    nb::object Column = sa.attr("Column");
    nb::object UUID = sa.attr("UUID");
    nb::object ForeignKey = sa.attr("ForeignKey");
    return nb::make_tuple(
        id_column(c, sa, UUID),
        Column("user_id", UUID, ForeignKey("users.id")),
        Column("client_id", UUID, ForeignKey("clients.id")),
        Column("is_revoked", sa.attr("Boolean"), nb::arg("default") = false));
}

nb::object integrations_columns(Call& c, nb::handle sa) {
    nb::object Column = sa.attr("Column");
    nb::object UUID = sa.attr("UUID");
    nb::object String = sa.attr("String");
    nb::object ForeignKey = sa.attr("ForeignKey");
    return nb::make_tuple(
        id_column(c, sa, UUID(nb::arg("as_uuid") = true)),
        Column("user_id", UUID, ForeignKey("users.id")),
        Column("client_id", UUID, ForeignKey("clients.id")),
        Column("connector", String, nb::arg("nullable") = false),
        Column("user_identifier", String, nb::arg("nullable") = false),
        Column("auth_string", String, nb::arg("nullable") = false),
        Column("auth_scopes", sa.attr("ARRAY")(String), nb::arg("nullable") = false));
}

// migrate(self, engine)
nb::object V1initTableAuth_migrate(Call& c) {
    nb::handle self = c[0];
    nb::handle engine = c[1];
    log(c, "debug", "doing database migration");
    const TableSpec tables[] = {
        {"clients", "Created clients table", "Table 'clients' already exists", clients_columns},
        {"users", "Created users table", "Table 'users' already exists", users_columns},
        {"tokens", "Created tokens table", "Table 'tokens' already exists", tokens_columns},
        {"third_party_integration_auths", "Created third_party_integration_auths table",
         "Table 'third_party_integration_auths' already exists", integrations_columns},
    };
    with_context(engine.attr("begin")(), [&](nb::object connection) {
        nb::object ops = c.global("Operations")(c.global("MigrationContext").attr("configure")(connection));
        nb::object sa = c.global("sqlalchemy");
        nb::object inspector = sa.attr("inspect")(engine);
        for (const TableSpec& table : tables) {
            if (truthy(inspector.attr("has_table")(table.name))) {
                log(c, "debug", table.exists);
                continue;
            }
            nb::object args = steal_or_throw(
                PySequence_Concat(nb::make_tuple(table.name).ptr(), table.columns(c, sa).ptr()));
            steal_or_throw(PyObject_CallObject(ops.attr("create_table").ptr(), args.ptr()));
            log(c, "debug", table.created);
        }
        self.attr("record_version")(connection);
    });
    return nb::none();
}

}  // namespace

void build_zunt_core_authentication_database_migration_migration_versions_V1_init_table_auth(ModuleScope& m) {
    m.doc("Create initial tables for authentication.");
    m.import_bind("logging");
    m.import_bind("uuid");
    m.from_import("datetime", {"datetime"});
    m.import_bind("sqlalchemy");
    m.from_import("alembic.migration", {"MigrationContext"});
    m.from_import("alembic.operations", {"Operations"});
    m.from_import("zunt_core.authentication.database_migration.base_migration", {"DbMigration"});

    ClassBuilder cls(m, "V1initTableAuth", nb::make_tuple(m.get("DbMigration")), nullptr);
    cls.annotate("version", builtin("int"))
        .attr("version", nb::int_(1))
        .annotate("description", builtin("str"))
        .attr("description", nb::str("Create initial tables for authentication"))
        .method({.name = "migrate", .params = {arg("self"), arg("engine")}, .impl = V1initTableAuth_migrate,
                 .doc = "Create the tables clients, users, tokens and third_party_integration_auths where missing."});
    cls.build();
}

}  // namespace zunt
