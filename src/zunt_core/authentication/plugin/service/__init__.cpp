// zunt_core.authentication.plugin.service: the integration service.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_plugin_service(ModuleScope& m) {
    m.doc("Third-party integration services.");
    m.from_import("zunt_core.authentication.plugin.service.third_party_integration_service",
                  {"ThirdPartyIntegrationService"});
    m.set_all({"ThirdPartyIntegrationService"});
}

}  // namespace zunt
