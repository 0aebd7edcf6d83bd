// zunt_core.authentication.database_migration.base_migration: the base class
// of the schema migrations, which records a migration's version.
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/logging.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

nb::object DbMigration_migrate(Call&) { return nb::none(); }

// UPDATE ... SET version, description on every row of the version table.
void write_version(Call& c, nb::handle self, nb::handle connection) {
    nb::object version = self.attr("version");
    nb::object description = self.attr("description");
    if (!truthy(description)) {
        description = steal_or_throw(PyUnicode_FromFormat("Migration for %S", version.ptr()));
    }
    nb::object update = c.global("text")(
        "UPDATE zunt_auth_database_versions SET version = :version, description = :description ");
    nb::dict params;
    params["version"] = version;
    params["description"] = description;
    connection.attr("execute")(update, params);
    log(c, "debug",
        steal_or_throw(PyUnicode_FromFormat("Recorded migration v%S in database_versions table.", version.ptr())));
}

// record_version(self, engine): given an engine, in a transaction of its
// own; given a connection (a migration recording itself inside its own
// transaction), on that connection, so the schema change and its version
// commit or roll back together.
nb::object DbMigration_record_version(Call& c) {
    nb::handle self = c[0];
    nb::handle target = c[1];
    nb::object connection_type = nb::module_::import_("sqlalchemy.engine").attr("Connection");
    if (is_instance(target, connection_type)) {
        write_version(c, self, target);
    } else {
        with_context(target.attr("begin")(), [&](nb::object connection) { write_version(c, self, connection); });
    }
    return nb::none();
}

}  // namespace

void build_zunt_core_authentication_database_migration_base_migration(ModuleScope& m) {
    m.doc("base class DB migration.");
    m.import_bind("logging");
    m.from_import("abc", {"ABC", "abstractmethod"});
    m.from_import("sqlalchemy", {"text"});

    nb::object none = nb::none();
    ClassBuilder cls(m, "DbMigration", nb::make_tuple(m.get("ABC")), "Base class for database migrations.");
    cls.annotate("version", builtin("int"))
        .annotate("description", builtin("str"))
        .attr("description", nb::str(""))
        .abstract_method({.name = "migrate", .params = {arg("self"), arg("engine")}, .impl = DbMigration_migrate,
                          .doc = "Apply the migration."})
        .method({.name = "record_version", .params = {arg("self"), arg("engine")}, .impl = DbMigration_record_version,
                 .doc = "Record this migration's version in the version table.", .returns = none});
    cls.build();
}

}  // namespace zunt
