// zunt_core.authentication.user.repository.sqlalchemy.repository: the SQL
// user repository. Every operation is one scope of the calling thread's
// session, closed on every way out; nothing is caught.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/authentication/repository_session.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// The first row of users matching both conditions, as a record, or None.
nb::object first_user(Call& c, nb::handle first_condition, nb::handle second_condition) {
    return repository_session::in_session(c, [&](nb::object session) -> nb::object {
        nb::object row = session.attr("query")(c.global("DBUser"))
                             .attr("filter")(first_condition, second_condition)
                             .attr("first")();
        if (row.is_none()) return nb::none();
        return c.global("UserModel").attr("model_validate")(row);
    });
}

// get_user(self, client_id, user_id); active or not.
nb::object SqlAlchemyUserRepository_get_user(Call& c) {
    nb::object DBUser = c.global("DBUser");
    return first_user(c, rich_eq(DBUser.attr("id"), c[2]), rich_eq(DBUser.attr("client_id"), c[1]));
}

// get_user_by_identifier(self, client_id, identifier); active or not.
nb::object SqlAlchemyUserRepository_get_user_by_identifier(Call& c) {
    nb::object DBUser = c.global("DBUser");
    return first_user(c, rich_eq(DBUser.attr("identifier"), c[2]), rich_eq(DBUser.attr("client_id"), c[1]));
}

// create_user(self, user): the record's six stored fields, as given.
nb::object SqlAlchemyUserRepository_create_user(Call& c) {
    nb::handle user = c[1];
    return repository_session::in_session(c, [&](nb::object session) {
        nb::object row = c.global("DBUser")(
            nb::arg("id") = user.attr("id"), nb::arg("identifier") = user.attr("identifier"),
            nb::arg("secret") = user.attr("secret"), nb::arg("secret_preview") = user.attr("secret_preview"),
            nb::arg("is_active") = user.attr("is_active"), nb::arg("client_id") = user.attr("client_id"));
        session.attr("add")(row);
        session.attr("commit")();
        session.attr("refresh")(row);
        return c.global("UserModel").attr("model_validate")(row);
    });
}

}  // namespace

void build_zunt_core_authentication_user_repository_sqlalchemy_repository(ModuleScope& m) {
    m.doc("SQLAlchemy user repository.");
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.database", {"SQLAlchemySQLDataStore"});
    m.from_import("zunt_core.authentication.user.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.authentication.user.repository.models", {"UserModel"});
    m.from_import("zunt_core.authentication.user.repository.sqlalchemy.models", {"DBUser"});

    nb::object UUID = m.get("UUID");
    nb::object UserModel = m.get("UserModel");
    nb::object optional_user = optional_of(UserModel);
    ClassBuilder cls(m, "SqlAlchemyUserRepository", nb::make_tuple(m.get("BaseRepository")),
                     "SQLAlchemy user repository.");
    cls.method({.name = "__init__", .params = {arg("self"), arg("data_store", m.get("SQLAlchemySQLDataStore"))},
                .impl = repository_session::keep_registry, .doc = "Keep the data store's session registry."})
        .method({.name = "get_user", .params = {arg("self"), arg("client_id", UUID), arg("user_id", UUID)},
                 .impl = SqlAlchemyUserRepository_get_user, .doc = "The user with that id of that client, or None.",
                 .returns = optional_user})
        .method({.name = "get_user_by_identifier",
                 .params = {arg("self"), arg("client_id", UUID), arg("identifier", builtin("str"))},
                 .impl = SqlAlchemyUserRepository_get_user_by_identifier,
                 .doc = "The user with that identifier of that client, or None.", .returns = optional_user})
        .method({.name = "create_user", .params = {arg("self"), arg("user", UserModel)},
                 .impl = SqlAlchemyUserRepository_create_user,
                 .doc = "Store a new user and answer it as stored.", .returns = UserModel});
    cls.build();
}

}  // namespace zunt
