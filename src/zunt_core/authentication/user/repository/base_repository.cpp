// zunt_core.authentication.user.repository.base_repository: the user
// storage interface.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

nb::object BaseRepository_abstract(Call&) { return nb::none(); }

}  // namespace

void build_zunt_core_authentication_user_repository_base_repository(ModuleScope& m) {
    m.doc("User repository interface.");
    m.from_import("abc", {"ABC", "abstractmethod"});
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.user.repository.models", {"UserModel"});

    nb::object UUID = m.get("UUID");
    nb::object UserModel = m.get("UserModel");
    nb::object optional_user = optional_of(UserModel);
    ClassBuilder cls(m, "BaseRepository", nb::make_tuple(m.get("ABC")), "User repository interface.");
    cls.abstract_method({.name = "get_user", .params = {arg("self"), arg("client_id", UUID), arg("user_id", UUID)},
                         .impl = BaseRepository_abstract, .doc = "The user with that id of that client, or None.",
                         .returns = optional_user})
        .abstract_method({.name = "get_user_by_identifier",
                          .params = {arg("self"), arg("client_id", UUID), arg("identifier", builtin("str"))},
                          .impl = BaseRepository_abstract,
                          .doc = "The user with that identifier of that client, or None.",
                          .returns = optional_user})
        .abstract_method({.name = "create_user", .params = {arg("self"), arg("user", UserModel)},
                          .impl = BaseRepository_abstract,
                          .doc = "Store a new user and answer it as stored.", .returns = UserModel});
    cls.build();
}

}  // namespace zunt
