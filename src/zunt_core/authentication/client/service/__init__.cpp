// zunt_core.authentication.client.service: the three client services.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_client_service(ModuleScope& m) {
    m.doc("Services for Client Related");
    m.from_import("zunt_core.authentication.client.service.client_aware_service", {"ClientAwareService"});
    m.from_import("zunt_core.authentication.client.service.create_client_service", {"CreateClientService"});
    m.from_import("zunt_core.authentication.client.service.verify_client_service", {"VerifyClientService"});
    m.set_all({"ClientAwareService", "CreateClientService", "VerifyClientService"});
}

}  // namespace zunt
