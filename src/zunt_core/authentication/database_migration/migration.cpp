// zunt_core.authentication.database_migration.migration: the runner that
// applies every migration newer than the stored schema version.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/logging.hpp"
#include "zunt_core/modules.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace zunt {

using namespace rt;

namespace {

// run_migrations(engine, current_version=0)
// Each migration records its own version inside its transaction, so the
// schema change and the stored version never part.
nb::object run_migrations(Call& c) {
    nb::handle engine = c[0];
    nb::handle current_version = c[1];
    std::vector<std::pair<nb::object, nb::object>> migrations;  // (version as int, class)
    for (const char* name : {"V1initTableAuth", "V2multiAccountIntegration", "V3AddIntegrationIndexes"}) {
        nb::object cls = c.global(name);
        nb::object version = steal_or_throw(PyNumber_Long(cls.attr("version").ptr()));
        migrations.emplace_back(std::move(version), std::move(cls));
    }
    std::stable_sort(migrations.begin(), migrations.end(), [](const auto& a, const auto& b) {
        return check_test(PyObject_RichCompareBool(a.first.ptr(), b.first.ptr(), Py_LT));
    });
    for (auto& [version, cls] : migrations) {
        if (check_test(PyObject_RichCompareBool(version.ptr(), current_version.ptr(), Py_LE))) {
            log(c, "debug",
                steal_or_throw(PyUnicode_FromFormat("Skipping migration %S (current version: %S)", version.ptr(),
                                                    current_version.ptr())));
            continue;
        }
        nb::object migration = cls();
        nb::object class_name = cls.attr("__name__");
        log(c, "debug", steal_or_throw(PyUnicode_FromFormat("Running migration: %S", class_name.ptr())));
        migration.attr("migrate")(engine);
        nb::object applied = migration.attr("version");
        log(c, "debug", steal_or_throw(PyUnicode_FromFormat("Migration %S applied.", applied.ptr())));
    }
    return nb::none();
}

}  // namespace

void build_zunt_core_authentication_database_migration_migration(ModuleScope& m) {
    m.doc("Database migration.");
    m.import_bind("logging");
    m.from_import("zunt_core.authentication.database_migration.migration_versions.V1_init_table_auth",
                  {"V1initTableAuth"});
    m.from_import("zunt_core.authentication.database_migration.migration_versions.V2_multi_account_integration",
                  {"V2multiAccountIntegration"});
    m.from_import("zunt_core.authentication.database_migration.migration_versions.V3_add_integration_indexes",
                  {"V3AddIntegrationIndexes"});

    nb::object int_ = builtin("int");
    m.def({.name = "run_migrations",
           .params = {arg("engine"), arg_default("current_version", int_, nb::int_(0))},
           .impl = run_migrations,
           .doc = "Apply, in version order, every migration newer than the current version.",
           .returns = nb::none()});
}

}  // namespace zunt
