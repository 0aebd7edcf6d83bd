// zunt_core.authentication.token.repository.sqlalchemy.models: the mapping
// of the table "tokens".
#include "zunt_core/authentication/mapping.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

void build_zunt_core_authentication_token_repository_sqlalchemy_models(ModuleScope& m) {
    m.doc("Token SQLAlchemy model.");
    m.import_bind("uuid");
    m.from_import("sqlalchemy", {"UUID", "Boolean", "Column", "ForeignKey"});
    m.from_import("sqlalchemy.orm", {"relationship"});
    m.from_import("zunt_core.authentication.database", {"DatabaseAdapter"});

    if (keep_existing_mapping(m, "DBToken")) return;

    nb::object Column = m.get("Column");
    nb::object ForeignKey = m.get("ForeignKey");
    auto uuid_type = [&] { return m.get("UUID")(nb::arg("as_uuid") = true); };
    ClassBuilder cls(m, "DBToken", nb::make_tuple(m.get("DatabaseAdapter").attr("base")), "Token SQLAlchemy model.");
    cls.attr("__tablename__", nb::str("tokens"))
        .attr("id", Column(uuid_type(), nb::arg("primary_key") = true, nb::arg("index") = true,
                           nb::arg("default") = m.get("uuid").attr("uuid4")))
        .attr("user_id", Column(uuid_type(), ForeignKey("users.id")))
        .attr("client_id", Column(uuid_type(), ForeignKey("clients.id")))
        .attr("is_revoked", Column(m.get("Boolean"), nb::arg("default") = false))
        .attr("user", m.get("relationship")("DBUser", nb::arg("back_populates") = "tokens"));
    cls.build();
}

}  // namespace zunt
