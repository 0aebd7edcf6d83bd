// zunt_core.authentication.plugin.service.third_party_integration_service:
// users' stored credentials for external connectors, and the rule that at
// most one integration per (client, user, connector) is selected.
//
// The store's look-ups read an empty connector as "every connector". Reads
// keep that; the writing operations (create, delete, select) find the
// integrations they act on by the exact connector, so an empty connector
// never deletes, selects or blocks an integration of another connector.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/authentication/plugin/integration_signatures.shared.hpp"
#include "zunt_core/modules.hpp"

#include <vector>

namespace zunt {

using namespace rt;

namespace {

nb::object repository_of(Call& c) { return c[0].attr("third_party_integration_repository"); }

bool same(nb::handle a, nb::handle b) { return check_test(PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ)); }

// The integrations of (client, user) whose connector is exactly `connector`,
// for connectors the store's filter ignores (empty text, None).
nb::list exactly_of_connector(nb::handle repository, nb::handle client_id, nb::handle user_id, nb::handle connector) {
    nb::list out;
    for (nb::handle integration : repository.attr("get_integrations")(client_id, user_id)) {
        if (same(integration.attr("connector"), connector)) out.append(integration);
    }
    return out;
}

// The integration of those four values, for a write.
nb::object find_for_write(nb::handle repository, nb::handle client_id, nb::handle user_id, nb::handle connector,
                          nb::handle user_identifier) {
    if (truthy(connector)) return repository.attr("get_integration")(client_id, user_id, connector, user_identifier);
    for (nb::handle integration : exactly_of_connector(repository, client_id, user_id, connector)) {
        if (same(integration.attr("user_identifier"), user_identifier)) return nb::borrow(integration);
    }
    return nb::none();
}

// The selected integration of the connector, for a write.
nb::object selected_for_write(nb::handle repository, nb::handle client_id, nb::handle user_id, nb::handle connector) {
    if (truthy(connector)) return repository.attr("get_selected_integration")(client_id, user_id, connector);
    for (nb::handle integration : exactly_of_connector(repository, client_id, user_id, connector)) {
        if (truthy(integration.attr("selected"))) return nb::borrow(integration);
    }
    return nb::none();
}

// The most recently created integration of the connector, for a write. For a
// connector the store's filter ignores, the newest of all the user's
// integrations counts when it is of that connector; otherwise the records
// carry no creation time to tell the newest apart, and the last one the
// store lists is taken.
nb::object latest_for_write(nb::handle repository, nb::handle client_id, nb::handle user_id, nb::handle connector) {
    nb::object latest = repository.attr("get_latest_created_integration")(client_id, user_id, connector);
    if (truthy(connector) || latest.is_none() || same(latest.attr("connector"), connector)) return latest;
    nb::list candidates = exactly_of_connector(repository, client_id, user_id, connector);
    return nb::len(candidates) == 0 ? nb::none() : nb::object(candidates[nb::len(candidates) - 1]);
}

[[noreturn]] void raise_not_found(Call& c) { raise(c.global("NotFoundException").ptr(), "Integration not found"); }

nb::object ThirdPartyIntegrationService_has_integration(Call& c) {
    return repository_of(c).attr("has_integration")(c[1], c[2], c[3]);
}

nb::object ThirdPartyIntegrationService_get_integration(Call& c) {
    return repository_of(c).attr("get_integration")(c[1], c[2], c[3], c[4]);
}

// get_specific_or_default_integration(self, client_id, user_id, connector, user_identifier=None)
nb::object ThirdPartyIntegrationService_get_specific_or_default_integration(Call& c) {
    if (c[4].is_none()) return repository_of(c).attr("get_selected_integration")(c[1], c[2], c[3]);
    return c[0].attr("get_integration")(c[1], c[2], c[3], c[4]);
}

nb::object ThirdPartyIntegrationService_get_integrations(Call& c) {
    return repository_of(c).attr("get_integrations")(c[1], c[2]);
}

// create_integration(self, integration): refused when the account exists;
// selected when its connector has no selected integration yet.
nb::object ThirdPartyIntegrationService_create_integration(Call& c) {
    nb::handle integration = c[1];
    nb::object repository = repository_of(c);
    nb::object client_id = integration.attr("client_id");
    nb::object user_id = integration.attr("user_id");
    nb::object connector = integration.attr("connector");
    if (!find_for_write(repository, client_id, user_id, connector, integration.attr("user_identifier")).is_none()) {
        raise(c.global("UserAlreadyExistsException").ptr(), "User already exists.");
    }
    bool has_selected = !selected_for_write(repository, client_id, user_id, connector).is_none();
    integration.attr("selected") = nb::bool_(!has_selected);
    return repository.attr("create_integration")(integration);
}

// delete_integration(self, client_id, user_id, connector, user_identifier):
// when the deleted one was selected, the newest remaining one of its
// connector becomes selected.
nb::object ThirdPartyIntegrationService_delete_integration(Call& c) {
    nb::object repository = repository_of(c);
    nb::object found = find_for_write(repository, c[1], c[2], c[3], c[4]);
    if (found.is_none()) raise_not_found(c);
    bool was_selected = truthy(found.attr("selected"));
    repository.attr("delete_integration")(c[1], c[2], c[3], c[4]);
    if (was_selected) {
        nb::object latest = latest_for_write(repository, c[1], c[2], c[3]);
        if (!latest.is_none()) {
            latest.attr("selected") = true;
            repository.attr("update_integration")(latest);
        }
    }
    return nb::none();
}

// set_selected_integration(self, client_id, user_id, connector, user_identifier)
nb::object ThirdPartyIntegrationService_set_selected_integration(Call& c) {
    nb::object repository = repository_of(c);
    nb::object chosen = find_for_write(repository, c[1], c[2], c[3], c[4]);
    if (chosen.is_none()) raise_not_found(c);
    nb::object current = selected_for_write(repository, c[1], c[2], c[3]);
    if (!current.is_none()) {
        current.attr("selected") = false;
        repository.attr("update_integration")(current);
    }
    chosen.attr("selected") = true;
    repository.attr("update_integration")(chosen);
    return nb::none();
}

nb::object ThirdPartyIntegrationService_get_integrations_by_connector(Call& c) {
    return repository_of(c).attr("get_integrations_by_connector")(c[1]);
}

nb::object ThirdPartyIntegrationService_delete_integrations(Call& c) {
    return repository_of(c).attr("delete_integrations")(c[1]);
}

}  // namespace

void build_zunt_core_authentication_plugin_service_third_party_integration_service(ModuleScope& m) {
    m.doc("Third-party integration service.");
    m.from_import("typing", {"Optional"});
    m.from_import("uuid", {"UUID"});
    m.from_import("zunt_core.authentication.plugin.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.authentication.plugin.repository.models", {"ThirdPartyIntegrationAuth"});
    m.from_import("zunt_core.exception.base", {"NotFoundException", "UserAlreadyExistsException"});

    const IntegrationSignatures sig(m);
    nb::object none = nb::none();
    std::vector<Param> account_with_optional_identifier = sig.account;
    account_with_optional_identifier.push_back(
        arg_default("user_identifier", subscript(m.get("Optional"), sig.text), none));

    ClassBuilder cls(m, "ThirdPartyIntegrationService", "Users' stored credentials for external connectors.");
    cls.storing_init({arg("third_party_integration_repository", m.get("BaseRepository"))},
                     {"third_party_integration_repository"}, "Keep the integration repository.")
        .method(method_decl("has_integration", sig.account, ThirdPartyIntegrationService_has_integration,
                            builtin("bool"), "Whether the user has an integration for the connector."))
        .method(method_decl("get_integration", sig.account_with_identifier,
                            ThirdPartyIntegrationService_get_integration, sig.optional_record,
                            "The integration of that account, or None."))
        .method(
            method_decl("get_specific_or_default_integration", account_with_optional_identifier,
                        ThirdPartyIntegrationService_get_specific_or_default_integration, sig.optional_record,
                        "The integration of that account, or the connector's selected one when no account is named."))
        .method(method_decl("get_integrations", {arg("client_id", sig.uuid), arg("user_id", sig.uuid)},
                            ThirdPartyIntegrationService_get_integrations, sig.record_list,
                            "Every integration of the user."))
        .method(method_decl("create_integration", {arg("integration", sig.record)},
                            ThirdPartyIntegrationService_create_integration, sig.record,
                            "Store a new integration, selected when its connector has none selected yet."))
        .method(method_decl("delete_integration", sig.account_with_identifier,
                            ThirdPartyIntegrationService_delete_integration, none,
                            "Delete an integration; the newest remaining one takes over a deleted selection."))
        .method(method_decl("set_selected_integration", sig.account_with_identifier,
                            ThirdPartyIntegrationService_set_selected_integration, none,
                            "Make an integration the selected one of its connector."))
        .method(method_decl("get_integrations_by_connector", {arg("connector", sig.text)},
                            ThirdPartyIntegrationService_get_integrations_by_connector, sig.record_list,
                            "Every integration of the connector, of every client and user."))
        .method(method_decl("delete_integrations", {arg("integration_ids", sig.id_list)},
                            ThirdPartyIntegrationService_delete_integrations, none,
                            "Delete the integrations with these ids."));
    cls.build();
}

}  // namespace zunt
