// zunt_core.authentication.user.repository.models: the user records.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

void build_zunt_core_authentication_user_repository_models(ModuleScope& m) {
    m.doc("User models.");
    m.from_import("uuid", {"UUID"});
    m.from_import("pydantic", {"BaseModel", "ConfigDict"});
    m.from_import("zunt_core.authentication.plugin.repository.models", {"ThirdPartyIntegrationAuthBasic"});

    nb::object UUID = m.get("UUID");
    nb::object str = builtin("str");
    nb::object BaseModel = m.get("BaseModel");

    ClassBuilder basic(m, "UserBasic", nb::make_tuple(BaseModel), "What a user key carries.");
    basic.annotate("id", UUID).annotate("identifier", str).annotate("secret", str);
    basic.build();

    ClassBuilder user(m, "User", nb::make_tuple(BaseModel), "A user as shown to callers, without any secret.");
    user.attr("model_config", m.get("ConfigDict")(nb::arg("from_attributes") = true))
        .annotate("id", optional_of(UUID))
        .attr("id", nb::none())
        .annotate("identifier", str)
        .annotate("secret_preview", str)
        .annotate("is_active", builtin("bool"))
        .annotate("client_id", UUID);
    nb::object User = user.build();

    ClassBuilder model(m, "UserModel", nb::make_tuple(User), "A user as stored, with its stored secret.");
    model.annotate("secret", str);
    model.build();

    ClassBuilder complete(m, "UserComplete", nb::make_tuple(User), "A user with its third-party integrations.");
    complete.annotate("integrations", subscript(builtin("list"), m.get("ThirdPartyIntegrationAuthBasic")));
    complete.build();
}

}  // namespace zunt
