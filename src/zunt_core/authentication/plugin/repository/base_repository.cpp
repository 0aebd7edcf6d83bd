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
    nb::object optional_auth = steal_or_throw(PyNumber_Or(Auth.ptr(), Py_None));
    nb::object auth_list = subscript(builtin("list"), Auth);
    nb::object none = nb::none();
    auto op = [&](const char* name, std::vector<Param> params, nb::handle returns, const char* doc) {
        params.insert(params.begin(), arg("self"));
        return FunctionDecl{name, std::move(params), BaseRepository_abstract, doc, nb::borrow(returns)};
    };
    ClassBuilder cls(m, "BaseRepository", nb::make_tuple(m.get("ABC")),
                     "Third-party integration repository interface.");
    cls.abstract_method(op("has_integration", {arg("client_id", UUID), arg("user_id", UUID), arg("connector", str)},
                           builtin("bool"), "Whether the user has an integration for the connector."))
        .abstract_method(op("get_integration",
                            {arg("client_id", UUID), arg("user_id", UUID), arg("connector", str),
                             arg("user_identifier", str)},
                            optional_auth, "The integration of that account, or None."))
        .abstract_method(op("get_selected_integration",
                            {arg("client_id", UUID), arg("user_id", UUID), arg("connector", str)}, optional_auth,
                            "The selected integration of the connector, or None."))
        .abstract_method(op("get_latest_created_integration",
                            {arg("client_id", UUID), arg("user_id", UUID), arg("connector", str)}, optional_auth,
                            "The most recently created integration of the connector, or None."))
        .abstract_method(op("get_integrations", {arg("client_id", UUID), arg("user_id", UUID)}, auth_list,
                            "Every integration of the user."))
        .abstract_method(op("create_integration", {arg("integration", Auth)}, Auth,
                            "Store a new integration and answer it as stored."))
        .abstract_method(op("update_integration", {arg("integration", Auth)}, optional_auth,
                            "Change a stored integration; None when it does not exist."))
        .abstract_method(op("delete_integration",
                            {arg("client_id", UUID), arg("user_id", UUID), arg("connector", str),
                             arg("user_identifier", str)},
                            none, "Delete the integration of that account."))
        .abstract_method(op("get_integrations_by_connector", {arg("connector", str)}, auth_list,
                            "Every integration of the connector, of every client and user."))
        .abstract_method(op("delete_integrations", {arg("integration_ids", subscript(builtin("list"), UUID))}, none,
                            "Delete the integrations with these ids."));
    cls.build();
}

}  // namespace zunt
