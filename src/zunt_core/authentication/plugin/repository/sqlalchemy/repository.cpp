// zunt_core.authentication.plugin.repository.sqlalchemy.repository: the SQL
// integration repository. Every operation but an empty bulk delete is one
// scope of the calling thread's session, closed on every way out; nothing is
// caught, so database errors reach the caller after the scope has closed.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/authentication/repository_session.shared.hpp"
#include "zunt_core/authentication/plugin/integration_signatures.shared.hpp"
#include "zunt_core/modules.hpp"

#include <vector>

namespace zunt {

using namespace rt;

namespace {

nb::object column(Call& c, const char* name) { return c.global("DBThirdPartyIntegrationAuth").attr(name); }

// The row as a record, built inside the scope.
nb::object to_record(Call& c, nb::handle row) {
    return c.global("ThirdPartyIntegrationAuth").attr("model_validate")(row);
}

nb::object record_or_none(Call& c, nb::handle row) { return row.is_none() ? nb::none() : to_record(c, row); }

nb::object records_of(Call& c, nb::handle query) {
    nb::list out;
    for (nb::handle row : query) out.append(to_record(c, row));
    return out;
}

// self._get_integration_base_query(session, client_id, user_id, connector)
nb::object base_query(Call& c, nb::handle session, nb::handle connector) {
    return c[0].attr("_get_integration_base_query")(session, c[1], c[2], connector);
}

// has_integration(self, client_id, user_id, connector)
nb::object SqlAlchemyThirdPartyIntegrationRepository_has_integration(Call& c) {
    return repository_session::in_session(
        c, [&](nb::object session) { return nb::bool_(!base_query(c, session, c[3]).attr("first")().is_none()); });
}

// get_integration(self, client_id, user_id, connector, user_identifier)
nb::object SqlAlchemyThirdPartyIntegrationRepository_get_integration(Call& c) {
    return repository_session::in_session(c, [&](nb::object session) {
        nb::object row =
            base_query(c, session, c[3]).attr("filter")(rich_eq(column(c, "user_identifier"), c[4])).attr("first")();
        return record_or_none(c, row);
    });
}

// get_selected_integration(self, client_id, user_id, connector)
nb::object SqlAlchemyThirdPartyIntegrationRepository_get_selected_integration(Call& c) {
    return repository_session::in_session(c, [&](nb::object session) {
        nb::object row = base_query(c, session, c[3])
                             .attr("filter")(rich_eq(column(c, "selected"), nb::bool_(true)))
                             .attr("first")();
        return record_or_none(c, row);
    });
}

// get_latest_created_integration(self, client_id, user_id, connector)
nb::object SqlAlchemyThirdPartyIntegrationRepository_get_latest_created_integration(Call& c) {
    return repository_session::in_session(c, [&](nb::object session) {
        nb::object row =
            base_query(c, session, c[3]).attr("order_by")(column(c, "created_at").attr("desc")()).attr("first")();
        return record_or_none(c, row);
    });
}

// get_integrations(self, client_id, user_id)
nb::object SqlAlchemyThirdPartyIntegrationRepository_get_integrations(Call& c) {
    return repository_session::in_session(
        c, [&](nb::object session) { return records_of(c, base_query(c, session, nb::none()).attr("all")()); });
}

// create_integration(self, integration): a new row (new id, the database's
// now() as created_at) from the record's seven stored fields.
nb::object SqlAlchemyThirdPartyIntegrationRepository_create_integration(Call& c) {
    nb::handle integration = c[1];
    return repository_session::in_session(c, [&](nb::object session) {
        nb::object row = c.global("DBThirdPartyIntegrationAuth")(
            nb::arg("client_id") = integration.attr("client_id"), nb::arg("user_id") = integration.attr("user_id"),
            nb::arg("connector") = integration.attr("connector"),
            nb::arg("user_identifier") = integration.attr("user_identifier"),
            nb::arg("auth_string") = integration.attr("auth_string"),
            nb::arg("auth_scopes") = integration.attr("auth_scopes"),
            nb::arg("selected") = integration.attr("selected"));
        session.attr("add")(row);
        session.attr("commit")();
        session.attr("refresh")(row);
        return to_record(c, row);
    });
}

// update_integration(self, integration): the row with the record's id gets
// its auth_string, auth_scopes and selected; None when there is none.
nb::object SqlAlchemyThirdPartyIntegrationRepository_update_integration(Call& c) {
    nb::handle integration = c[1];
    return repository_session::in_session(c, [&](nb::object session) -> nb::object {
        nb::object row = session.attr("query")(c.global("DBThirdPartyIntegrationAuth"))
                             .attr("filter")(rich_eq(column(c, "id"), integration.attr("id")))
                             .attr("first")();
        if (row.is_none()) return nb::none();
        row.attr("auth_string") = integration.attr("auth_string");
        row.attr("auth_scopes") = integration.attr("auth_scopes");
        row.attr("selected") = integration.attr("selected");
        session.attr("commit")();
        session.attr("refresh")(row);
        return to_record(c, row);
    });
}

// delete_integration(self, client_id, user_id, connector, user_identifier):
// one bulk delete; the connector is always compared.
nb::object SqlAlchemyThirdPartyIntegrationRepository_delete_integration(Call& c) {
    repository_session::in_session(c, [&](nb::object session) {
        session.attr("query")(c.global("DBThirdPartyIntegrationAuth"))
            .attr("filter")(rich_eq(column(c, "client_id"), c[1]), rich_eq(column(c, "user_id"), c[2]),
                            rich_eq(column(c, "connector"), c[3]), rich_eq(column(c, "user_identifier"), c[4]))
            .attr("delete")();
        session.attr("commit")();
    });
    return nb::none();
}

// get_integrations_by_connector(self, connector): every client and user.
nb::object SqlAlchemyThirdPartyIntegrationRepository_get_integrations_by_connector(Call& c) {
    return repository_session::in_session(c, [&](nb::object session) {
        nb::object query = session.attr("query")(c.global("DBThirdPartyIntegrationAuth"))
                               .attr("filter")(rich_eq(column(c, "connector"), c[1]));
        return records_of(c, query);
    });
}

// delete_integrations(self, integration_ids): nothing at all for no ids.
nb::object SqlAlchemyThirdPartyIntegrationRepository_delete_integrations(Call& c) {
    nb::handle ids = c[1];
    if (!truthy(ids)) return nb::none();
    repository_session::in_session(c, [&](nb::object session) {
        session.attr("query")(c.global("DBThirdPartyIntegrationAuth"))
            .attr("filter")(column(c, "id").attr("in_")(ids))
            .attr("delete")();
        session.attr("commit")();
    });
    return nb::none();
}

// _get_integration_base_query(self, session, client_id, user_id, connector=None):
// the user's integrations, of one connector when it is non-empty text.
nb::object SqlAlchemyThirdPartyIntegrationRepository_get_integration_base_query(Call& c) {
    nb::object query = c[1].attr("query")(c.global("DBThirdPartyIntegrationAuth"))
                           .attr("filter")(rich_eq(column(c, "client_id"), c[2]), rich_eq(column(c, "user_id"), c[3]));
    if (truthy(c[4])) query = query.attr("filter")(rich_eq(column(c, "connector"), c[4]));
    return query;
}

}  // namespace

void build_zunt_core_authentication_plugin_repository_sqlalchemy_repository(ModuleScope& m) {
    m.doc("SQLAlchemy third-party integration repository.");
    m.from_import("typing", {"Optional"});
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.database", {"SQLAlchemySQLDataStore"});
    m.from_import("zunt_core.authentication.plugin.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.authentication.plugin.repository.models", {"ThirdPartyIntegrationAuth"});
    m.from_import("zunt_core.authentication.plugin.repository.sqlalchemy.models", {"DBThirdPartyIntegrationAuth"});
    m.from_import("sqlalchemy.orm", {"Query", "Session"});

    const IntegrationSignatures sig(m);
    nb::object none = nb::none();

    ClassBuilder cls(m, "SqlAlchemyThirdPartyIntegrationRepository", nb::make_tuple(m.get("BaseRepository")),
                     "SQLAlchemy third-party integration repository.");
    cls.method({.name = "__init__",
                .params = {arg("self"), arg("data_store", m.get("SQLAlchemySQLDataStore"))},
                .impl = repository_session::keep_registry,
                .doc = "Keep the data store's session registry."})
        .method(method_decl("has_integration", sig.account, SqlAlchemyThirdPartyIntegrationRepository_has_integration,
                            builtin("bool"), "Whether the user has an integration for the connector."))
        .method(method_decl("get_integration", sig.account_with_identifier,
                            SqlAlchemyThirdPartyIntegrationRepository_get_integration, sig.optional_record,
                            "The integration of that account, or None."))
        .method(method_decl("get_selected_integration", sig.account,
                            SqlAlchemyThirdPartyIntegrationRepository_get_selected_integration, sig.optional_record,
                            "The selected integration of the connector, or None."))
        .method(method_decl("get_latest_created_integration", sig.account,
                            SqlAlchemyThirdPartyIntegrationRepository_get_latest_created_integration,
                            sig.optional_record, "The most recently created integration of the connector, or None."))
        .method(method_decl("get_integrations", {arg("client_id", sig.uuid), arg("user_id", sig.uuid)},
                            SqlAlchemyThirdPartyIntegrationRepository_get_integrations, sig.record_list,
                            "Every integration of the user."))
        .method(method_decl("create_integration", {arg("integration", sig.record)},
                            SqlAlchemyThirdPartyIntegrationRepository_create_integration, sig.record,
                            "Store a new integration and answer it as stored."))
        .method(method_decl("update_integration", {arg("integration", sig.record)},
                            SqlAlchemyThirdPartyIntegrationRepository_update_integration, sig.optional_record,
                            "Change a stored integration; None when it does not exist."))
        .method(method_decl("delete_integration", sig.account_with_identifier,
                            SqlAlchemyThirdPartyIntegrationRepository_delete_integration, none,
                            "Delete the integration of that account."))
        .method(method_decl("get_integrations_by_connector", {arg("connector", sig.text)},
                            SqlAlchemyThirdPartyIntegrationRepository_get_integrations_by_connector, sig.record_list,
                            "Every integration of the connector, of every client and user."))
        .method(method_decl("delete_integrations", {arg("integration_ids", sig.id_list)},
                            SqlAlchemyThirdPartyIntegrationRepository_delete_integrations, none,
                            "Delete the integrations with these ids."))
        .method({.name = "_get_integration_base_query",
                 .params = {arg("self"), arg("session", m.get("Session")), arg("client_id", sig.uuid),
                            arg("user_id", sig.uuid),
                            arg_default("connector", subscript(m.get("Optional"), sig.text), none)},
                 .impl = SqlAlchemyThirdPartyIntegrationRepository_get_integration_base_query,
                 .doc = "The user's integrations, of one connector when it is given.",
                 .returns = subscript(m.get("Query"), m.get("DBThirdPartyIntegrationAuth"))});
    cls.build();
}

}  // namespace zunt
