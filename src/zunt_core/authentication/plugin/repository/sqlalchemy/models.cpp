// zunt_core.authentication.plugin.repository.sqlalchemy.models: the mapping
// of the table "third_party_integration_auths".
#include "runtime/errors.hpp"
#include "zunt_core/authentication/mapping.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

void build_zunt_core_authentication_plugin_repository_sqlalchemy_models(ModuleScope& m) {
    m.doc("Third-party integration SQLAlchemy model.");
    m.import_bind("uuid");
    m.from_import("sqlalchemy", {"ARRAY", "UUID", "Boolean", "Column", "DateTime", "ForeignKey", "String", "func"});
    m.from_import("sqlalchemy.orm", {"relationship"});
    m.from_import("zunt_core.authentication.database", {"DatabaseAdapter"});

    if (keep_existing_mapping(m, "DBThirdPartyIntegrationAuth")) return;

    nb::object Column = m.get("Column");
    nb::object String = m.get("String");
    nb::object ForeignKey = m.get("ForeignKey");
    auto uuid_type = [&] { return m.get("UUID")(nb::arg("as_uuid") = true); };
    ClassBuilder cls(m, "DBThirdPartyIntegrationAuth", nb::make_tuple(m.get("DatabaseAdapter").attr("base")),
                     "Third-party integration SQLAlchemy model.");
    cls.attr("__tablename__", nb::str("third_party_integration_auths"))
        .attr("id", Column(uuid_type(), nb::arg("primary_key") = true, nb::arg("index") = true,
                           nb::arg("default") = m.get("uuid").attr("uuid4")))
        .attr("client_id", Column(uuid_type(), ForeignKey("clients.id"), nb::arg("nullable") = false))
        .attr("user_id", Column(uuid_type(), ForeignKey("users.id"), nb::arg("nullable") = false))
        .attr("connector", Column(String, nb::arg("nullable") = false))
        .attr("user_identifier", Column(String, nb::arg("nullable") = false))
        .attr("auth_string", Column(String, nb::arg("nullable") = false))
        .attr("auth_scopes", Column(m.get("ARRAY")(String), nb::arg("nullable") = false))
        .attr("selected", Column(m.get("Boolean"), nb::arg("nullable") = false, nb::arg("default") = false))
        .attr("created_at", Column(m.get("DateTime"), nb::arg("nullable") = false,
                                   nb::arg("default") = m.get("func").attr("now")()))
        .attr("client", m.get("relationship")("DBClient", nb::arg("back_populates") = "integrations"));
    cls.build();
}

}  // namespace zunt
