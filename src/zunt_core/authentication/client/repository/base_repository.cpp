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
    cls.abstract_method({"create_client", {arg("self"), arg("client", m.get("ClientBasic"))}, BaseRepository_abstract,
                         "Create client.", ClientModel})
        .abstract_method({"get_client_by_id", {arg("self"), arg("client_id", m.get("UUID"))}, BaseRepository_abstract,
                          "Get client by id.", optional_of(ClientModel)});
    cls.build();
}

}  // namespace zunt
