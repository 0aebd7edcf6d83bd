// zunt_core.authentication.config: the process-wide settings of the
// authentication component. Constructing the class always answers its one
// instance; the environment is read by every construction until one
// completes, and by none after that.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

constexpr const char* initialized_flag = "_AuthenticationDbSettings__initialized";
constexpr long default_expire_minutes = 43200;

// os.environ.get(key), through the module's own `os`.
nb::object environ_get(Call& c, const char* key) { return c.global("os").attr("environ").attr("get")(key); }

// `value or fallback`
nb::object value_or(nb::handle value, nb::handle fallback) {
    return truthy(value) ? nb::borrow(value) : nb::borrow(fallback);
}

// __new__(cls, **kwargs): the one instance, made on first use with its flag down.
nb::object AuthenticationDbSettings_new(Call& c) {
    nb::handle cls = c[0];
    if (cls.attr("_instance").is_none()) {
        nb::object next_new = super_of(c.closure(), cls).attr("__new__");
        nb::object instance = steal_or_throw(call_one(next_new.ptr(), cls.ptr()));
        cls.attr("_instance") = instance;
        instance.attr(initialized_flag) = false;
    }
    return cls.attr("_instance");
}

// __init__(self, *, database_authentication_url=None, auth_secret_key=None,
//          auth_algorithm=None, auth_access_token_expire_minutes=None)
nb::object AuthenticationDbSettings_init(Call& c) {
    nb::handle self = c[0];
    if (truthy(self.attr(initialized_flag))) return nb::none();
    super_of(c.closure(), self).attr("__init__")();

    self.attr("database_authentication_url") = value_or(c[1], environ_get(c, "DATABASE_AUTHENTICATION_URL"));
    if (!truthy(self.attr("database_authentication_url"))) {
        raise(PyExc_ValueError,
              "database_authentication_url must be provided either through initialization or "
              "DATABASE_AUTHENTICATION_URL environment variable");
    }

    self.attr("auth_secret_key") = value_or(c[2], environ_get(c, "AUTH_SECRET_KEY"));
    if (!truthy(self.attr("auth_secret_key"))) {
        raise(PyExc_ValueError,
              "auth_secret_key must be provided either through initialization or AUTH_SECRET_KEY environment "
              "variable");
    }

    self.attr("auth_algorithm") = value_or(c[3], value_or(environ_get(c, "AUTH_ALGORITHM"), nb::str("HS256")));

    // Converted whenever it is set, even when the argument wins.
    nb::object env_minutes = environ_get(c, "AUTH_ACCESS_TOKEN_EXPIRE_MINUTES");
    if (!env_minutes.is_none()) env_minutes = steal_or_throw(PyNumber_Long(env_minutes.ptr()));
    self.attr("auth_access_token_expire_minutes") =
        value_or(c[4], value_or(env_minutes, nb::int_(default_expire_minutes)));

    self.attr("password_hash_service") = c.global("Argon2PasswordHashService")();
    self.attr(initialized_flag) = true;
    return nb::none();
}

}  // namespace

void build_zunt_core_authentication_config(ModuleScope& m) {
    m.doc("Authentication settings.");
    m.import_bind("os");
    m.from_import("zunt_core.authentication.security.argon2", {"Argon2PasswordHashService"});
    m.from_import("zunt_core.authentication.security.hash", {"PasswordHashService"});

    nb::object str = builtin("str");
    nb::object int_ = builtin("int");
    nb::object opt_str = optional_of(str);
    nb::object opt_int = optional_of(int_);
    nb::object none = nb::none();

    ClassBuilder cls(m, "AuthenticationDbSettings", "Authentication Database Connection Settings.");
    cls.attr(initialized_flag, nb::bool_(false))
        .attr("_instance", none)
        .annotate("database_authentication_url", str)
        .annotate("auth_secret_key", str)
        .annotate("auth_algorithm", str)
        .attr("auth_algorithm", nb::str("HS256"))
        .annotate("auth_access_token_expire_minutes", int_)
        .attr("auth_access_token_expire_minutes", nb::int_(default_expire_minutes))
        .annotate("password_hash_service", m.get("PasswordHashService"));
    cls.static_method({.name = "__new__", .params = {arg("cls"), var_kwargs()}, .impl = AuthenticationDbSettings_new,
                       .doc = "Answer the one instance, made on first use."})
        .method({.name = "__init__",
                 .params = {arg("self"), kwonly_default("database_authentication_url", opt_str, none),
                            kwonly_default("auth_secret_key", opt_str, none),
                            kwonly_default("auth_algorithm", opt_str, none),
                            kwonly_default("auth_access_token_expire_minutes", opt_int, none)},
                 .impl = AuthenticationDbSettings_init,
                 .doc = "Read the settings from the arguments and the environment, once.",
                 .returns = none});
    cls.build();
}

}  // namespace zunt
