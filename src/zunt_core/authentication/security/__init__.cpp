// zunt_core.authentication.security: password hashing.
#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_authentication_security(ModuleScope& m) {
    m.doc("Security Module for Auth.");
    m.from_import("zunt_core.authentication.security.argon2", {"Argon2PasswordHashService"});
    m.from_import("zunt_core.authentication.security.hash", {"PasswordHashService"});
    m.set_all({"PasswordHashService", "Argon2PasswordHashService"});
}

}  // namespace zunt
