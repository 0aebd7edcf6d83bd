// Migration 3: composite indexes for the repositories' look-ups. An index
// that exists is only reported, so the migration can be applied again.
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/logging.hpp"
#include "zunt_core/modules.hpp"

#include <initializer_list>

namespace zunt {

using namespace rt;

namespace {

// _get_table_indexes(self, inspector, table_name): the names of the table's indexes.
nb::object V3AddIntegrationIndexes_get_table_indexes(Call& c) {
    nb::object names = steal_or_throw(PySet_New(nullptr));
    for (nb::handle index : c[1].attr("get_indexes")(c[2])) {
        if (PySet_Add(names.ptr(), nb::object(index["name"]).ptr()) != 0) throw_current();
    }
    return names;
}

void add_index(Call& c, nb::handle ops, nb::handle inspector, const char* table, const char* name,
               std::initializer_list<const char*> columns) {
    nb::object existing = c[0].attr("_get_table_indexes")(inspector, table);
    if (contains(existing, nb::str(name))) {
        log(c, "debug", steal_or_throw(PyUnicode_FromFormat("Index '%s' already exists", name)));
        return;
    }
    nb::list column_list;
    for (const char* column : columns) column_list.append(column);
    ops.attr("create_index")(name, table, column_list);
    log(c, "debug", steal_or_throw(PyUnicode_FromFormat("Created index '%s'", name)));
}

// _add_integration_auth_indexes(self, ops, inspector)
nb::object V3AddIntegrationIndexes_add_integration_auth_indexes(Call& c) {
    add_index(c, c[1], c[2], "third_party_integration_auths", "idx_client_id_user_id_connector",
              {"client_id", "user_id", "connector"});
    return nb::none();
}

// _add_token_indexes(self, ops, inspector)
nb::object V3AddIntegrationIndexes_add_token_indexes(Call& c) {
    add_index(c, c[1], c[2], "tokens", "idx_tokens_user_id_client_id", {"id", "user_id", "client_id"});
    return nb::none();
}

// _add_user_indexes(self, ops, inspector)
nb::object V3AddIntegrationIndexes_add_user_indexes(Call& c) {
    add_index(c, c[1], c[2], "users", "idx_client_id_identifier", {"client_id", "identifier"});
    return nb::none();
}

// migrate(self, engine)
nb::object V3AddIntegrationIndexes_migrate(Call& c) {
    nb::handle self = c[0];
    nb::handle engine = c[1];
    log(c, "debug", "Applying migration %s: %s", self.attr("version"), self.attr("description"));
    with_context(engine.attr("begin")(), [&](nb::object connection) {
        nb::object ops = c.global("Operations")(c.global("MigrationContext").attr("configure")(connection));
        // On the engine: sees committed state only.
        nb::object inspector = c.global("sqlalchemy").attr("inspect")(engine);
        self.attr("_add_integration_auth_indexes")(ops, inspector);
        self.attr("_add_token_indexes")(ops, inspector);
        self.attr("_add_user_indexes")(ops, inspector);
        self.attr("record_version")(connection);
    });
    return nb::none();
}

}  // namespace

void build_zunt_core_authentication_database_migration_migration_versions_V3_add_integration_indexes(ModuleScope& m) {
    m.doc("Add composite indexes for authentication queries optimization.");
    m.import_bind("logging");
    m.import_bind("sqlalchemy");
    m.from_import("alembic.migration", {"MigrationContext"});
    m.from_import("alembic.operations", {"Operations"});
    m.from_import("zunt_core.authentication.database_migration.base_migration", {"DbMigration"});

    nb::object sa = m.get("sqlalchemy");
    nb::object Inspector = sa.attr("Inspector");
    nb::object Operations = m.get("Operations");
    nb::object none = nb::none();
    ClassBuilder cls(m, "V3AddIntegrationIndexes", nb::make_tuple(m.get("DbMigration")), nullptr);
    cls.annotate("version", builtin("int"))
        .attr("version", nb::int_(3))
        .annotate("description", builtin("str"))
        .attr("description", nb::str("Add composite indexes for authentication queries optimization"))
        .method({.name = "migrate", .params = {arg("self"), arg("engine", sa.attr("Engine"))},
                 .impl = V3AddIntegrationIndexes_migrate,
                 .doc = "Create the composite indexes of the repositories' look-ups where missing."})
        .method({.name = "_add_integration_auth_indexes",
                 .params = {arg("self"), arg("ops", Operations), arg("inspector", Inspector)},
                 .impl = V3AddIntegrationIndexes_add_integration_auth_indexes,
                 .doc = "Index the integrations by client, user and connector."})
        .method({.name = "_add_token_indexes",
                 .params = {arg("self"), arg("ops", Operations), arg("inspector", Inspector)},
                 .impl = V3AddIntegrationIndexes_add_token_indexes, .doc = "Index the tokens by id, user and client."})
        .method({.name = "_add_user_indexes",
                 .params = {arg("self"), arg("ops", Operations), arg("inspector", Inspector)},
                 .impl = V3AddIntegrationIndexes_add_user_indexes, .doc = "Index the users by client and identifier."})
        .method({.name = "_get_table_indexes",
                 .params = {arg("self"), arg("inspector", Inspector), arg("table_name", builtin("str"))},
                 .impl = V3AddIntegrationIndexes_get_table_indexes, .doc = "The names of the table's indexes.",
                 .returns = builtin("set")});
    cls.build();
}

}  // namespace zunt
