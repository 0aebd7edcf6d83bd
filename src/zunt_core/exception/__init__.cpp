#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_exception(ModuleScope& m) {
    m.doc("Exception modules.");
    m.from_import("zunt_core.exception.base", {"ZuntException", "InvalidClientException", "UnauthorizedException"});
    m.set_all({"ZuntException", "UnauthorizedException", "InvalidClientException"});
}

}  // namespace zunt
