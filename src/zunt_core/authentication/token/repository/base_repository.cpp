// zunt_core.authentication.token.repository.base_repository: the token
// storage interface.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

nb::object BaseRepository_abstract(Call&) { return nb::none(); }

}  // namespace

void build_zunt_core_authentication_token_repository_base_repository(ModuleScope& m) {
    m.doc("Token repository interface.");
    m.from_import("abc", {"ABC", "abstractmethod"});
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.token.repository.models", {"Token"});

    nb::object UUID = m.get("UUID");
    nb::object Token = m.get("Token");
    ClassBuilder cls(m, "BaseRepository", nb::make_tuple(m.get("ABC")), "Token repository interface.");
    cls.abstract_method({.name = "get_token",
                         .params = {arg("self"), arg("client_id", UUID), arg("user_id", UUID), arg("token_id", UUID)},
                         .impl = BaseRepository_abstract,
                         .doc = "The stored token with that id, issued to that user of that client, or None.",
                         .returns = optional_of(Token)})
        .abstract_method({.name = "create_token", .params = {arg("self"), arg("token", Token)},
                          .impl = BaseRepository_abstract,
                          .doc = "Store a token row.", .returns = nb::none()})
        .abstract_method({.name = "revoke_token",
                          .params = {arg("self"), arg("client_id", UUID), arg("user_id", UUID), arg("token_id", UUID)},
                          .impl = BaseRepository_abstract, .doc = "Mark that token revoked; whether a row was found.",
                          .returns = builtin("bool")});
    cls.build();
}

}  // namespace zunt
