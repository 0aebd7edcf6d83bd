// zunt_core.authentication.plugin.repository.models: the integration records.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

void build_zunt_core_authentication_plugin_repository_models(ModuleScope& m) {
    m.doc("Models for third-party integration.");
    m.from_import("uuid", {"UUID"});
    m.from_import("pydantic", {"BaseModel", "ConfigDict", "Field"});

    nb::object UUID = m.get("UUID");
    nb::object optional_uuid = optional_of(UUID);
    nb::object str = builtin("str");
    nb::object Field = m.get("Field");

    ClassBuilder basic(m, "ThirdPartyIntegrationAuthBasic", nb::make_tuple(m.get("BaseModel")),
                       "Third-party integration auth basic model.");
    basic.annotate("id", optional_uuid)
        .attr("id", Field(nb::arg("default") = nb::none()))
        .annotate("client_id", UUID)
        .annotate("user_id", UUID)
        .annotate("connector", str)
        .annotate("user_identifier", str)
        .annotate("selected", builtin("bool"))
        .attr("selected", Field(nb::arg("default") = false));
    nb::object Basic = basic.build();

    ClassBuilder full(m, "ThirdPartyIntegrationAuth", nb::make_tuple(Basic), "Third-party integration auth model.");
    full.attr("model_config", m.get("ConfigDict")(nb::arg("from_attributes") = true))
        .annotate("id", optional_uuid)
        .attr("id", Field(nb::arg("default") = nb::none()))
        .annotate("client_id", UUID)
        .annotate("user_id", UUID)
        .annotate("connector", str)
        .annotate("user_identifier", str)
        .annotate("auth_string", str)
        .annotate("auth_scopes", subscript(builtin("list"), str));
    full.build();
}

}  // namespace zunt
