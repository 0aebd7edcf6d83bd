// zunt_core.authentication.user.service.create_user_service: creating a user
// in the calling client and handing out its key, once.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// __init__(self, user_repository, client_aware_service)
nb::object CreateUserService_init(Call& c) {
    nb::handle self = c[0];
    self.attr("client_aware_service") = c[2];
    self.attr("user_repository") = c[1];
    self.attr("user_helper") = c.global("UserHelper")();
    self.attr("hash_service") = c.global("AuthenticationDbSettings")().attr("password_hash_service");
    return nb::none();
}

// create_user(self, api_key, identifier): the stored user, its secret field
// holding the user key (the only time the key is handed out).
nb::object CreateUserService_create_user(Call& c) {
    nb::handle self = c[0];
    nb::handle identifier = c[2];
    nb::object client_id = self.attr("client_aware_service").attr("get_client_id_by_api_key")(c[1]);
    nb::object repository = self.attr("user_repository");
    if (!repository.attr("get_user_by_identifier")(client_id, identifier).is_none()) {
        raise(c.global("UserAlreadyExistsException").ptr(), "User already exists.");
    }
    nb::object helper = self.attr("user_helper");
    nb::object secret = helper.attr("generate_secret")();
    // SECRET_PREFIX + "..." + the secret's last USER_SECRET_PREVIEW_LENGTH characters
    nb::object length = self.attr("USER_SECRET_PREVIEW_LENGTH");
    nb::object tail = steal_or_throw(PySlice_New(steal_or_throw(PyNumber_Negative(length.ptr())).ptr(), Py_None, Py_None));
    nb::object preview = steal_or_throw(PyNumber_Add(
        steal_or_throw(PyNumber_Add(c.global("UserHelper").attr("SECRET_PREFIX").ptr(), nb::str("...").ptr())).ptr(),
        steal_or_throw(PyObject_GetItem(secret.ptr(), tail.ptr())).ptr()));
    nb::object user_id = c.global("uuid4")();
    nb::object user = c.global("UserModel")(
        nb::arg("id") = user_id, nb::arg("identifier") = identifier,
        nb::arg("secret") = self.attr("hash_service").attr("hash")(secret), nb::arg("secret_preview") = preview,
        nb::arg("is_active") = true, nb::arg("client_id") = client_id);
    nb::object created = repository.attr("create_user")(user);
    user.attr("secret") = secret;
    created.attr("secret") = helper.attr("build_api_key")(user);
    return created;
}

}  // namespace

void build_zunt_core_authentication_user_service_create_user_service(ModuleScope& m) {
    m.doc("Create user service.");
    m.from_import("uuid", {"uuid4"});
    m.from_import("zunt_core.authentication.client.service.client_aware_service", {"ClientAwareService"});
    m.from_import("zunt_core.authentication.config", {"AuthenticationDbSettings"});
    m.from_import("zunt_core.authentication.user.helper.helper", {"UserHelper"});
    m.from_import("zunt_core.authentication.user.repository.base_repository", {"BaseRepository"});
    m.from_import("zunt_core.authentication.user.repository.models", {"UserModel"});
    m.from_import("zunt_core.exception.base", {"UserAlreadyExistsException"});

    nb::object str = builtin("str");
    ClassBuilder cls(m, "CreateUserService", "Creates users of the calling client.");
    cls.attr("USER_SECRET_PREVIEW_LENGTH", nb::int_(8))
        .method({.name = "__init__",
                 .params = {arg("self"), arg("user_repository", m.get("BaseRepository")),
                            arg("client_aware_service", m.get("ClientAwareService"))},
                 .impl = CreateUserService_init,
                 .doc = "Keep the repository and the client resolver; take the password hasher.",
                 .returns = nb::none()})
        .method({.name = "create_user", .params = {arg("self"), arg("api_key", str), arg("identifier", str)},
                 .impl = CreateUserService_create_user,
                 .doc = "Create a user in the calling client; its secret field holds the user key, handed out once.",
                 .returns = m.get("UserModel")});
    cls.build();
}

}  // namespace zunt
