// zunt_core.authentication.client.repository.sqlalchemy.models: the mapping
// of the table "clients". Loading it loads the integration and user mappings
// (and through the user mapping the token mapping) first, so all four exist
// on the declarative base once this one does.
#include "runtime/errors.hpp"
#include "zunt_core/authentication/mapping.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

void build_zunt_core_authentication_client_repository_sqlalchemy_models(ModuleScope& m) {
    m.doc("Client SQLAlchemy model.");
    m.import_bind("uuid");
    m.from_import("datetime", {"datetime"});
    m.from_import("sqlalchemy", {"UUID", "Boolean", "Column", "DateTime", "String"});
    m.from_import("sqlalchemy.orm", {"relationship"});
    m.from_import("zunt_core.authentication.database", {"DatabaseAdapter"});
    m.from_import("zunt_core.authentication.plugin.repository.sqlalchemy.models", {"DBThirdPartyIntegrationAuth"});
    m.from_import("zunt_core.authentication.user.repository.sqlalchemy.models", {"DBUser"});

    if (keep_existing_mapping(m, "DBClient")) return;

    nb::object Column = m.get("Column");
    nb::object String = m.get("String");
    nb::object relationship = m.get("relationship");
    ClassBuilder cls(m, "DBClient", nb::make_tuple(m.get("DatabaseAdapter").attr("base")), "Client SQLAlchemy model.");
    cls.attr("__tablename__", nb::str("clients"))
        .attr("id", Column(m.get("UUID")(nb::arg("as_uuid") = true), nb::arg("primary_key") = true,
                           nb::arg("index") = true, nb::arg("default") = m.get("uuid").attr("uuid4")))
        .attr("name", Column(String, nb::arg("unique") = true, nb::arg("index") = true))
        .attr("secret", Column(String, nb::arg("unique") = true, nb::arg("index") = true))
        .attr("is_active", Column(m.get("Boolean"), nb::arg("default") = true))
        .attr("created_at", Column(m.get("DateTime"), nb::arg("default") = m.get("datetime").attr("now")))
        .attr("users", relationship(m.get("DBUser"), nb::arg("back_populates") = "client", nb::arg("lazy") = "dynamic"))
        .attr("integrations", relationship(m.get("DBThirdPartyIntegrationAuth"), nb::arg("back_populates") = "client",
                                           nb::arg("lazy") = "dynamic"));
    cls.build();
}

}  // namespace zunt
