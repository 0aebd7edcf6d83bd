// zunt_core.authentication.client.repository.base_repository: the client
// storage interface.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

nb::object BaseRepository_abstract(Call&) { return nb::none(); }

}  // namespace

void build_zunt_core_authentication_client_repository_base_repository(ModuleScope& m) {
    m.doc("Base repository interface.");
    m.from_import("abc", {"ABC", "abstractmethod"});
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.client.repository.models", {"ClientBasic", "ClientModel"});

    nb::object ClientModel = m.get("ClientModel");
    ClassBuilder cls(m, "BaseRepository", nb::make_tuple(m.get("ABC")), "Base repository interface.");
    cls.abstract_method({.name = "create_client", .params = {arg("self"), arg("client", m.get("ClientBasic"))},
                         .impl = BaseRepository_abstract,
                         .doc = "Create client.", .returns = ClientModel})
        .abstract_method({.name = "get_client_by_id", .params = {arg("self"), arg("client_id", m.get("UUID"))},
                          .impl = BaseRepository_abstract,
                          .doc = "Get client by id.", .returns = optional_of(ClientModel)});
    cls.build();
}

}  // namespace zunt
