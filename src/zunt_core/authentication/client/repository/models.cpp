// zunt_core.authentication.client.repository.models: the client records.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

void build_zunt_core_authentication_client_repository_models(ModuleScope& m) {
    m.doc("Client models.");
    m.from_import("datetime", {"datetime"});
    m.from_import("uuid", {"UUID"});
    m.from_import("pydantic", {"BaseModel", "ConfigDict"});

    nb::object UUID = m.get("UUID");
    nb::object str = builtin("str");
    nb::object bool_ = builtin("bool");
    nb::object optional_datetime = optional_of(m.get("datetime"));
    nb::object none = nb::none();
    nb::object BaseModel = m.get("BaseModel");

    ClassBuilder basic(m, "ClientBasic", nb::make_tuple(BaseModel),
                       "Client model with only the basic values for validation.");
    basic.attr("model_config", m.get("ConfigDict")(nb::arg("from_attributes") = true))
        .annotate("id", UUID)
        .annotate("name", str)
        .annotate("secret", str);
    nb::object ClientBasic = basic.build();

    ClassBuilder model(m, "ClientModel", nb::make_tuple(ClientBasic), "Client model for internal purposes.");
    model.annotate("is_active", bool_).annotate("created_at", optional_datetime).attr("created_at", none);
    model.build();

    ClassBuilder client(m, "Client", nb::make_tuple(BaseModel), "Client model for public use.");
    client.annotate("id", UUID)
        .annotate("name", str)
        .annotate("api_key", str)
        .annotate("is_active", bool_)
        .annotate("created_at", optional_datetime)
        .attr("created_at", none);
    client.build();
}

}  // namespace zunt
