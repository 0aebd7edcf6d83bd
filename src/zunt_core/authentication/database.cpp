// zunt_core.authentication.database: the process-wide database adapter
// (engine, per-thread session registry, declarative base), the data store
// the repositories are built on, and the schema start-up.
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/logging.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

constexpr const char* versions_table = "zunt_auth_database_versions";

// DatabaseAdapter.initialize(cls, engine_or_url, pool_size=10, max_overflow=10, autocommit=False, autoflush=True)
nb::object DatabaseAdapter_initialize(Call& c) {
    nb::handle cls = c[0];
    nb::handle engine_or_url = c[1];
    if (PyUnicode_Check(engine_or_url.ptr())) {
        cls.attr("engine") = c.global("sqlalchemy").attr("create_engine")(
            engine_or_url, nb::arg("pool_size") = c[2], nb::arg("max_overflow") = c[3],
            // Statement errors do not quote the parameters: they hold secrets.
            nb::arg("hide_parameters") = true);
    } else {
        cls.attr("engine") = engine_or_url;
    }
    nb::object orm = c.global("orm");
    nb::object factory = orm.attr("sessionmaker")(nb::arg("autocommit") = c[4], nb::arg("autoflush") = c[5],
                                                  nb::arg("bind") = cls.attr("engine"));
    cls.attr("db") = orm.attr("scoped_session")(factory);
    cls.attr("base").attr("query") = cls.attr("db").attr("query_property")();
    return nb::none();
}

// DatabaseAdapter.has_table(cls, table_name)
nb::object DatabaseAdapter_has_table(Call& c) {
    nb::object inspector = c.global("sqlalchemy").attr("inspect")(c[0].attr("engine"));
    return inspector.attr("has_table")(c[1]);
}

// SQLAlchemySQLDataStore.__init__(self, engine_or_url, pool_size=10, max_overflow=10, autoflush=True, **kwargs)
nb::object SQLAlchemySQLDataStore_init(Call& c) {
    nb::handle self = c[0];
    nb::object adapter = c.global("DatabaseAdapter")();
    nb::dict kwargs;
    kwargs["engine_or_url"] = c[1];
    kwargs["pool_size"] = c[2];
    kwargs["max_overflow"] = c[3];
    kwargs["autoflush"] = c[4];
    if (PyDict_Update(kwargs.ptr(), c[5].ptr()) != 0) throw_current();
    nb::object initialize = adapter.attr("initialize");
    nb::tuple no_args;
    steal_or_throw(PyObject_Call(initialize.ptr(), no_args.ptr(), kwargs.ptr()));
    self.attr("db") = adapter.attr("db");
    self.attr("engine") = adapter.attr("engine");
    return nb::none();
}

// _create_versioning_table(db_engine): the version table and its one row,
// committed together, unless the table exists.
nb::object create_versioning_table(Call& c) {
    nb::handle engine = c[0];
    nb::object sqlalchemy = c.global("sqlalchemy");
    // On the engine: sees committed tables only. Looked at before any
    // transaction is opened, so the start of a process on a current schema
    // (every start but the first) costs no transaction and no migration
    // context here.
    if (truthy(sqlalchemy.attr("inspect")(engine).attr("has_table")(versions_table))) {
        log(c, "debug", "Table 'database_versions' already exists");
        return nb::none();
    }
    with_context(engine.attr("begin")(), [&](nb::object connection) {
        nb::object context = c.global("MigrationContext").attr("configure")(connection);
        nb::object ops = c.global("Operations")(context);
        log(c, "debug", "Creating database_versions table");
        nb::object Column = sqlalchemy.attr("Column");
        nb::object Integer = sqlalchemy.attr("Integer");
        ops.attr("create_table")(versions_table,
                                 Column("id", Integer, nb::arg("primary_key") = true),
                                 Column("version", Integer, nb::arg("nullable") = false, nb::arg("unique") = true),
                                 Column("description", sqlalchemy.attr("String")),
                                 Column("applied_at", sqlalchemy.attr("DateTime")));
        // The one literal in SQL text: a time stamp this function made.
        nb::object now = str_of(c.global("datetime").attr("now")());
        nb::object insert = steal_or_throw(PyUnicode_FromFormat(
            "INSERT INTO zunt_auth_database_versions (id, version, description, applied_at) VALUES (1, 0, "
            "'Initial version', '%U')",
            now.ptr()));
        ops.attr("execute")(insert);
        log(c, "debug", "Created database_versions table");
    });
    return nb::none();
}

// _get_versions(db_engine): the first row of the version table, or None.
nb::object get_versions(Call& c) {
    return with_context(c[0].attr("begin")(), [&](nb::object connection) {
        nb::object query = c.global("text")("SELECT version FROM zunt_auth_database_versions");
        return connection.attr("execute")(query).attr("fetchone")();
    });
}

// A version table without a row (emptied by hand, or made by something
// else) gets the row it is created with, so every migration runs and
// records its version.
void seed_version_row(Call& c, nb::handle engine) {
    with_context(engine.attr("begin")(), [&](nb::object connection) {
        nb::object insert = c.global("text")(
            "INSERT INTO zunt_auth_database_versions (id, version, description, applied_at) "
            "VALUES (:id, 0, 'Initial version', :applied_at)");
        nb::dict params;
        params["id"] = 1;
        params["applied_at"] = c.global("datetime").attr("now")();
        connection.attr("execute")(insert, params);
        log(c, "debug", "Table 'database_versions' has no row: recorded version 0");
    });
}

// Schema start-up of several processes against one database runs one at a
// time: a session-level advisory lock, held on a connection of its own from
// the first look at the version table to the last migration. A process that
// waited then finds the schema current and skips everything.
class SchemaStartupLock {
public:
    SchemaStartupLock(Call& c, nb::handle engine) : c_(c) {
        if (!engine.attr("dialect").attr("name").equal(nb::str("postgresql"))) return;
        connection_ = engine.attr("connect")();
        try {
            connection_.attr("execute")(c_.global("text")("SELECT pg_advisory_lock(:key)"), params());
            connection_.attr("commit")();
        } catch (nb::python_error&) {
            close();
            throw;
        }
    }

    ~SchemaStartupLock() {
        if (!connection_.is_valid()) return;
        // The lock belongs to the connection's server session: closing a
        // broken connection ends the session, and the lock with it.
        run_unraisable("releasing the schema start-up lock", [&] {
            connection_.attr("execute")(c_.global("text")("SELECT pg_advisory_unlock(:key)"), params());
            connection_.attr("commit")();
        });
        close();
    }

    SchemaStartupLock(const SchemaStartupLock&) = delete;
    SchemaStartupLock& operator=(const SchemaStartupLock&) = delete;

private:
    static constexpr long long key = 0x7a756e745f617574;  // "zunt_aut"

    nb::dict params() const {
        nb::dict p;
        p["key"] = nb::int_(key);
        return p;
    }

    void close() noexcept {
        run_unraisable(connection_, [&] { connection_.attr("close")(); });
        connection_ = nb::object();
    }

    Call& c_;
    nb::object connection_;
};

// initialize_authentication_db(data_store): the version table, the stored
// version, then every newer migration.
nb::object initialize_authentication_db(Call& c) {
    nb::object engine = c[0].attr("engine");
    SchemaStartupLock lock(c, engine);
    c.global("_create_versioning_table")(engine);
    nb::object row = c.global("_get_versions")(engine);
    nb::object current_version;
    if (row.is_none()) {
        seed_version_row(c, engine);
        current_version = nb::int_(0);
    } else {
        current_version = nb::object(row[0]);
    }
    c.global("run_migrations")(engine, current_version);
    return nb::none();
}

}  // namespace

void build_zunt_core_authentication_database(ModuleScope& m) {
    m.doc("Database adapter.");
    m.import_bind("logging");
    m.from_import("datetime", {"datetime"});
    m.from_import("typing", {"Any", "Union"});
    m.import_bind("sqlalchemy");
    m.from_import("alembic.migration", {"MigrationContext"});
    m.from_import("alembic.operations", {"Operations"});
    m.from_import("sqlalchemy", {"orm", "text"});
    m.from_import("sqlalchemy.engine", {"Engine"});
    m.from_import("zunt_core.authentication.database_migration.migration", {"run_migrations"});

    nb::object str = builtin("str");
    nb::object int_ = builtin("int");
    nb::object bool_ = builtin("bool");
    nb::object none = nb::none();
    nb::object Engine = m.get("Engine");
    nb::object engine_or_url = subscript(m.get("Union"), {Engine, str});
    nb::object engine_or_url_pipe = steal_or_throw(PyNumber_Or(Engine.ptr(), str.ptr()));

    ClassBuilder store(m, "SQLAlchemySQLDataStore",
                       "The handle the SQL repositories are built on: the session registry and the engine of "
                       "the database adapter.");
    store.method({.name = "__init__",
                  .params = {arg("self"), arg("engine_or_url", engine_or_url_pipe),
                             arg_default("pool_size", int_, nb::int_(10)),
                             arg_default("max_overflow", int_, nb::int_(10)),
                             arg_default("autoflush", bool_, nb::bool_(true)),
                             Param{"kwargs", ParamKind::var_keyword, {}, m.get("Any")}},
                  .impl = SQLAlchemySQLDataStore_init,
                  .doc = "Initialise the database adapter and keep its session registry and engine.",
                  .returns = none});
    store.build();

    ClassBuilder adapter(m, "DatabaseAdapter",
                         "The process-wide database engine, per-thread session registry and declarative base.");
    adapter.attr("engine", none)
        .attr("db", none)
        .attr("base", m.get("orm").attr("declarative_base")())
        .class_method({.name = "initialize",
                       .params = {arg("cls"), arg("engine_or_url", engine_or_url),
                                  arg_default("pool_size", int_, nb::int_(10)),
                                  arg_default("max_overflow", int_, nb::int_(10)),
                                  arg_default("autocommit", bool_, nb::bool_(false)),
                                  arg_default("autoflush", bool_, nb::bool_(true))},
                       .impl = DatabaseAdapter_initialize,
                       .doc = "Make (or take) the engine and a per-thread session registry bound to it.",
                       .returns = none})
        .class_method({.name = "has_table", .params = {arg("cls"), arg("table_name", str)},
                       .impl = DatabaseAdapter_has_table,
                       .doc = "Whether the database of the engine has a table of that name."});
    adapter.build();

    m.def({.name = "initialize_authentication_db",
           .params = {arg("data_store", m.get("SQLAlchemySQLDataStore"))},
           .impl = initialize_authentication_db,
           .doc = "Bring the database of the data store to the current schema version.",
           .returns = none});
    m.def({.name = "_create_versioning_table", .params = {arg("db_engine")}, .impl = create_versioning_table,
           .doc = "Create the schema version table with its one row, unless it exists."});
    m.def({.name = "_get_versions", .params = {arg("db_engine")}, .impl = get_versions,
           .doc = "The first row of the schema version table, or None."});
}

}  // namespace zunt
