// zunt_core.authentication.service: the ten published services, empty until
// init_auth_services fills them. Applications read each slot by name at the
// time of use.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

constexpr const char* slot_names[] = {
    "create_client_service",   "client_aware_service", "verify_client_service",     "create_user_service",
    "get_user_service",        "authenticate_user_service", "create_token_service", "verify_token_service",
    "revoke_token_service",    "third_party_integration_service",
};

// set_services(services_dict, initialized=True): each slot in order, at once,
// from any map looked up by key; a missing key stops there with the host's
// KeyError.
nb::object set_services(Call& c) {
    nb::object globals = c.function().attr("__globals__");
    for (const char* name : slot_names) {
        nb::str key(name);
        globals[key] = steal_or_throw(PyObject_GetItem(c[0].ptr(), key.ptr()));
    }
    globals["_initialized"] = c[1];
    return nb::none();
}

}  // namespace

void build_zunt_core_authentication_service(ModuleScope& m) {
    m.doc("Authentication services, published by init_auth_services.");
    m.from_import("collections.abc", {"Mapping"});
    m.from_import("typing", {"Any"});
    m.set("_initialized", nb::bool_(false));
    for (const char* name : slot_names) m.set(name, nb::none());
    m.def({.name = "set_services",
           .params = {arg("services_dict", subscript(m.get("Mapping"), {builtin("str"), m.get("Any")})),
                      arg_default("initialized", builtin("bool"), nb::bool_(true))},
           .impl = set_services,
           .doc = "Publish the services of the map in the ten slots, then set the initialised flag.",
           .returns = nb::none()});
}

}  // namespace zunt
