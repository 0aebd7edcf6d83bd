// zunt_core.authentication.user.repository.sqlalchemy.models: the mapping of
// the table "users". Loading it loads the token mapping first.
#include "zunt_core/authentication/mapping.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

void build_zunt_core_authentication_user_repository_sqlalchemy_models(ModuleScope& m) {
    m.doc("User SQLAlchemy model.");
    m.import_bind("uuid");
    m.from_import("sqlalchemy", {"UUID", "Boolean", "Column", "ForeignKey", "String"});
    m.from_import("sqlalchemy.orm", {"relationship"});
    m.from_import("zunt_core.authentication.database", {"DatabaseAdapter"});
    m.from_import("zunt_core.authentication.token.repository.sqlalchemy.models", {"DBToken"});

    if (keep_existing_mapping(m, "DBUser")) return;

    nb::object Column = m.get("Column");
    nb::object String = m.get("String");
    nb::object relationship = m.get("relationship");
    auto uuid_type = [&] { return m.get("UUID")(nb::arg("as_uuid") = true); };
    ClassBuilder cls(m, "DBUser", nb::make_tuple(m.get("DatabaseAdapter").attr("base")), "User SQLAlchemy model.");
    cls.attr("__tablename__", nb::str("users"))
        .attr("id", Column(uuid_type(), nb::arg("primary_key") = true, nb::arg("index") = true,
                           nb::arg("default") = m.get("uuid").attr("uuid4")))
        .attr("identifier", Column(String, nb::arg("index") = true))
        .attr("secret", Column(String))
        .attr("secret_preview", Column(String))
        .attr("is_active", Column(m.get("Boolean"), nb::arg("default") = true))
        .attr("client_id", Column(uuid_type(), m.get("ForeignKey")("clients.id")))
        .attr("client", relationship("DBClient", nb::arg("back_populates") = "users"))
        .attr("tokens", relationship(m.get("DBToken"), nb::arg("back_populates") = "user"));
    cls.build();
}

}  // namespace zunt
