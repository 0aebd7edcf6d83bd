// zunt_core.authentication.token.repository.sqlalchemy.repository: the SQL
// token repository. Every operation is one scope of the calling thread's
// session, closed on every way out; nothing is caught.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/authentication/repository_session.shared.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// The row of that token, issued to that user of that client, or None.
nb::object find_token(Call& c, nb::handle session, bool id_before_user) {
    nb::object DBToken = c.global("DBToken");
    nb::object by_client = rich_eq(DBToken.attr("client_id"), c[1]);
    nb::object by_user = rich_eq(DBToken.attr("user_id"), c[2]);
    nb::object by_id = rich_eq(DBToken.attr("id"), c[3]);
    nb::object query = session.attr("query")(DBToken);
    query = id_before_user ? query.attr("filter")(by_client, by_id, by_user)
                           : query.attr("filter")(by_client, by_user, by_id);
    return query.attr("first")();
}

// get_token(self, client_id, user_id, token_id)
nb::object SqlAlchemyTokenRepository_get_token(Call& c) {
    return repository_session::in_session(c, [&](nb::object session) -> nb::object {
        nb::object row = find_token(c, session, false);
        if (row.is_none()) return nb::none();
        return c.global("Token").attr("model_validate")(row);
    });
}

// create_token(self, token): stored not revoked, whatever the record says.
nb::object SqlAlchemyTokenRepository_create_token(Call& c) {
    nb::handle token = c[1];
    repository_session::in_session(c, [&](nb::object session) {
        nb::object row = c.global("DBToken")(nb::arg("id") = token.attr("id"),
                                             nb::arg("client_id") = token.attr("client_id"),
                                             nb::arg("user_id") = token.attr("user_id"), nb::arg("is_revoked") = false);
        session.attr("add")(row);
        session.attr("commit")();
        session.attr("refresh")(row);
    });
    return nb::none();
}

// revoke_token(self, client_id, user_id, token_id): whether a row was found.
nb::object SqlAlchemyTokenRepository_revoke_token(Call& c) {
    return repository_session::in_session(c, [&](nb::object session) -> nb::object {
        nb::object row = find_token(c, session, true);
        if (row.is_none()) return nb::bool_(false);
        row.attr("is_revoked") = true;
        session.attr("commit")();
        return nb::bool_(true);
    });
}

}  // namespace

void build_zunt_core_authentication_token_repository_sqlalchemy_repository(ModuleScope& m) {
    m.doc("SQLAlchemy token repository.");
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.database", {"SQLAlchemySQLDataStore"});
    m.from_import("zunt_core.authentication.token.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.authentication.token.repository.models", {"Token"});
    m.from_import("zunt_core.authentication.token.repository.sqlalchemy.models", {"DBToken"});

    nb::object UUID = m.get("UUID");
    nb::object Token = m.get("Token");
    ClassBuilder cls(m, "SqlAlchemyTokenRepository", nb::make_tuple(m.get("BaseRepository")),
                     "SQLAlchemy token repository.");
    cls.method({.name = "__init__", .params = {arg("self"), arg("data_store", m.get("SQLAlchemySQLDataStore"))},
                .impl = repository_session::keep_registry, .doc = "Keep the data store's session registry."})
        .method({.name = "get_token",
                 .params = {arg("self"), arg("client_id", UUID), arg("user_id", UUID), arg("token_id", UUID)},
                 .impl = SqlAlchemyTokenRepository_get_token,
                 .doc = "The stored token with that id, issued to that user of that client, or None.",
                 .returns = optional_of(Token)})
        .method({.name = "create_token", .params = {arg("self"), arg("token", Token)},
                 .impl = SqlAlchemyTokenRepository_create_token,
                 .doc = "Store a token row, not revoked.", .returns = nb::none()})
        .method({.name = "revoke_token",
                 .params = {arg("self"), arg("client_id", UUID), arg("user_id", UUID), arg("token_id", UUID)},
                 .impl = SqlAlchemyTokenRepository_revoke_token,
                 .doc = "Mark that token revoked; whether a row was found.",
                 .returns = builtin("bool")});
    cls.build();
}

}  // namespace zunt
