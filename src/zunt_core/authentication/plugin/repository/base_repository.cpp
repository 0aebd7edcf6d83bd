// zunt_core.authentication.plugin.repository.base_repository: the
// integration storage interface.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

#include <vector>

namespace zunt {

using namespace rt;

namespace {

nb::object BaseRepository_abstract(Call&) { return nb::none(); }

}  // namespace

void build_zunt_core_authentication_plugin_repository_base_repository(ModuleScope& m) {
    m.doc("Third-party integration repository interface.");
    m.from_import("abc", {"ABC", "abstractmethod"});
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.plugin.repository.models", {"ThirdPartyIntegrationAuth"});

    nb::object UUID = m.get("UUID");
    nb::object str = builtin("str");
    nb::object Auth = m.get("ThirdPartyIntegrationAuth");
    nb::object optional_auth = optional_of(Auth);
    nb::object auth_list = subscript(builtin("list"), Auth);
    nb::object none = nb::none();
    Impl abstract = BaseRepository_abstract;
    std::vector<Param> account{arg("client_id", UUID), arg("user_id", UUID), arg("connector", str)};
    std::vector<Param> account_with_identifier = account;
    account_with_identifier.push_back(arg("user_identifier", str));

    ClassBuilder cls(m, "BaseRepository", nb::make_tuple(m.get("ABC")),
                     "Third-party integration repository interface.");
    cls.abstract_method(method_decl("has_integration", account, abstract, builtin("bool"),
                                    "Whether the user has an integration for the connector."))
        .abstract_method(method_decl("get_integration", account_with_identifier, abstract, optional_auth,
                                     "The integration of that account, or None."))
        .abstract_method(method_decl("get_selected_integration", account, abstract, optional_auth,
                                     "The selected integration of the connector, or None."))
        .abstract_method(method_decl("get_latest_created_integration", account, abstract, optional_auth,
                                     "The most recently created integration of the connector, or None."))
        .abstract_method(method_decl("get_integrations", {arg("client_id", UUID), arg("user_id", UUID)}, abstract,
                                     auth_list, "Every integration of the user."))
        .abstract_method(method_decl("create_integration", {arg("integration", Auth)}, abstract, Auth,
                                     "Store a new integration and answer it as stored."))
        .abstract_method(method_decl("update_integration", {arg("integration", Auth)}, abstract, optional_auth,
                                     "Change a stored integration; None when it does not exist."))
        .abstract_method(method_decl("delete_integration", account_with_identifier, abstract, none,
                                     "Delete the integration of that account."))
        .abstract_method(method_decl("get_integrations_by_connector", {arg("connector", str)}, abstract, auth_list,
                                     "Every integration of the connector, of every client and user."))
        .abstract_method(method_decl("delete_integrations",
                                     {arg("integration_ids", subscript(builtin("list"), UUID))}, abstract, none,
                                     "Delete the integrations with these ids."));
    cls.build();
}

}  // namespace zunt
