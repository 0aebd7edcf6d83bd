// zunt_core.authentication.token.repository.models: the token records.
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

void build_zunt_core_authentication_token_repository_models(ModuleScope& m) {
    m.doc("Token models.");
    m.from_import("datetime", {"datetime"});
    m.from_import("uuid", {"UUID"});
    m.from_import("pydantic", {"BaseModel", "ConfigDict"});

    nb::object UUID = m.get("UUID");
    nb::object str = builtin("str");
    nb::object bool_ = builtin("bool");
    nb::object BaseModel = m.get("BaseModel");
    nb::object ConfigDict = m.get("ConfigDict");

    ClassBuilder complete(m, "TokenComplete", nb::make_tuple(BaseModel), "An issued access token, as a login returns it.");
    complete.attr("model_config", ConfigDict(nb::arg("from_attributes") = true))
        .annotate("id", UUID)
        .annotate("token", str)
        .annotate("token_type", str)
        .annotate("expires_at", m.get("datetime"))
        .annotate("is_revoked", bool_)
        .annotate("user_id", UUID)
        .annotate("client_id", UUID);
    complete.build();

    ClassBuilder token(m, "Token", nb::make_tuple(BaseModel), "The stored part of an issued access token.");
    token.attr("model_config", ConfigDict(nb::arg("from_attributes") = true))
        .annotate("id", UUID)
        .annotate("user_id", UUID)
        .annotate("client_id", UUID)
        .annotate("is_revoked", bool_);
    token.build();
}

}  // namespace zunt
