// zunt_core.authentication.plugin.repository.base_repository: the
// integration storage interface.
#include "runtime/errors.hpp"
#include "zunt_core/authentication/plugin/integration_signatures.shared.hpp"
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

    const IntegrationSignatures sig(m);
    nb::object none = nb::none();
    Impl abstract = BaseRepository_abstract;

    ClassBuilder cls(m, "BaseRepository", nb::make_tuple(m.get("ABC")),
                     "Third-party integration repository interface.");
    cls.abstract_method(method_decl("has_integration", sig.account, abstract, builtin("bool"),
                                    "Whether the user has an integration for the connector."))
        .abstract_method(method_decl("get_integration", sig.account_with_identifier, abstract, sig.optional_record,
                                     "The integration of that account, or None."))
        .abstract_method(method_decl("get_selected_integration", sig.account, abstract, sig.optional_record,
                                     "The selected integration of the connector, or None."))
        .abstract_method(method_decl("get_latest_created_integration", sig.account, abstract, sig.optional_record,
                                     "The most recently created integration of the connector, or None."))
        .abstract_method(method_decl("get_integrations", {arg("client_id", sig.uuid), arg("user_id", sig.uuid)},
                                     abstract, sig.record_list, "Every integration of the user."))
        .abstract_method(method_decl("create_integration", {arg("integration", sig.record)}, abstract, sig.record,
                                     "Store a new integration and answer it as stored."))
        .abstract_method(method_decl("update_integration", {arg("integration", sig.record)}, abstract,
                                     sig.optional_record, "Change a stored integration; None when it does not exist."))
        .abstract_method(method_decl("delete_integration", sig.account_with_identifier, abstract, none,
                                     "Delete the integration of that account."))
        .abstract_method(method_decl("get_integrations_by_connector", {arg("connector", sig.text)}, abstract,
                                     sig.record_list, "Every integration of the connector, of every client and user."))
        .abstract_method(method_decl("delete_integrations", {arg("integration_ids", sig.id_list)}, abstract, none,
                                     "Delete the integrations with these ids."));
    cls.build();
}

}  // namespace zunt
