// zunt_core.authentication.client.repository.sqlalchemy.repository: the SQL
// client repository. Every operation is one scope of the calling thread's
// session, closed on every way out; rows become records inside the scope.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/logging.hpp"
#include "zunt_core/authentication/repository_session.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// create_client(self, client): insert, commit, reload, answer the stored row.
nb::object SqlAlchemyClientRepository_create_client(Call& c) {
    nb::handle client = c[1];
    return repository_session::in_session(c, [&](nb::object session) {
        nb::object row = c.global("DBClient")(nb::arg("id") = client.attr("id"), nb::arg("name") = client.attr("name"),
                                              nb::arg("secret") = client.attr("secret"),
                                              nb::arg("is_active") = true);
        session.attr("add")(row);
        session.attr("commit")();
        session.attr("refresh")(row);
        return c.global("ClientModel").attr("model_validate")(row);
    });
}

// get_client_by_id(self, client_id): the active client with that id, or None.
// A failed query or conversion is logged and answered with None; errors of
// the session itself reach the caller.
nb::object SqlAlchemyClientRepository_get_client_by_id(Call& c) {
    nb::handle client_id = c[1];
    return repository_session::in_session(c, [&](nb::object session) -> nb::object {
        try {
            nb::object DBClient = c.global("DBClient");
            nb::object row = session.attr("query")(DBClient)
                                 .attr("filter")(rich_eq(DBClient.attr("id"), client_id), DBClient.attr("is_active"))
                                 .attr("first")();
            if (row.is_none()) return nb::none();
            return c.global("ClientModel").attr("model_validate")(row);
        } catch (nb::python_error& e) {
            if (!e.matches(PyExc_Exception)) throw;
            log(c, "error", steal_or_throw(PyUnicode_FromFormat("An error occurred: %S", e.value().ptr())));
            return nb::none();
        }
    });
}

}  // namespace

void build_zunt_core_authentication_client_repository_sqlalchemy_repository(ModuleScope& m) {
    m.doc("SQLAlchemy client repository.");
    m.import_bind("logging");
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.database", {"SQLAlchemySQLDataStore"});
    m.from_import("zunt_core.authentication.client.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.authentication.client.repository.models", {"ClientBasic", "ClientModel"});
    m.from_import("zunt_core.authentication.client.repository.sqlalchemy.models", {"DBClient"});

    nb::object ClientModel = m.get("ClientModel");
    ClassBuilder cls(m, "SqlAlchemyClientRepository", nb::make_tuple(m.get("BaseRepository")),
                     "SQLAlchemy client repository.");
    cls.method({.name = "__init__", .params = {arg("self"), arg("data_store", m.get("SQLAlchemySQLDataStore"))},
                .impl = repository_session::keep_registry, .doc = "Keep the data store's session registry."})
        .method({.name = "create_client", .params = {arg("self"), arg("client", m.get("ClientBasic"))},
                 .impl = SqlAlchemyClientRepository_create_client, .doc = "Create client.", .returns = ClientModel})
        .method({.name = "get_client_by_id", .params = {arg("self"), arg("client_id", m.get("UUID"))},
                 .impl = SqlAlchemyClientRepository_get_client_by_id, .doc = "Get client by id.",
                 .returns = optional_of(ClientModel)});
    cls.build();
}

}  // namespace zunt
