// zunt_core.telemetry.sentry.initializer: Sentry start-up. The options map is
// built from the configuration in a fixed key order; when an OpenTelemetry
// configuration is linked, OpenTelemetry's Sentry path runs first and Sentry
// is told to take its spans from it. sentry_sdk.init is looked up at call time.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// init_sentry(config=None)
nb::object init_sentry(Call& c) {
    nb::object config = nb::borrow(c[0]);
    if (!truthy(config)) config = c.global("SentryConfig")();
    nb::dict options;
    for (const char* key : {"dsn", "environment", "release", "traces_sampler", "send_default_pii",
                            "profiles_sample_rate"}) {
        options[key] = config.attr(key);
    }
    nb::object otel_config = config.attr("open_telemetry_config");
    if (truthy(otel_config)) {
        options["instrumenter"] = nb::str("otel");
        c.global("init_otel_sentry")(otel_config);
    }
    options.attr("update")(config.attr("additional_options"));
    nb::object init = c.global("sentry_sdk").attr("init");
    steal_or_throw(PyObject_Call(init.ptr(), nb::tuple().ptr(), options.ptr()));
    return nb::none();
}

}  // namespace

void build_zunt_core_telemetry_sentry_initializer(ModuleScope& m) {
    m.doc("Sentry start-up, optionally with OpenTelemetry feeding Sentry its spans.");
    m.from_import("typing", {"Optional"});
    m.import_bind("sentry_sdk");
    m.from_import("zunt_core.telemetry.opentelemetry.initializer", {"OpenTelemetryConfig", "init_otel_sentry"});

    nb::object Optional = m.get("Optional");
    nb::object opt_str = subscript(Optional, builtin("str"));
    nb::object none = nb::none();

    ClassBuilder config(m, "SentryConfig",
                        "The Sentry settings: the standard options, an optional OpenTelemetry configuration that "
                        "feeds Sentry its spans, and any further option by keyword.");
    config.storing_init({arg_default("dsn", opt_str, none), arg_default("environment", opt_str, none),
                         arg_default("release", opt_str, none),
                         arg_default("profiles_sample_rate", subscript(Optional, builtin("float")), none),
                         arg_default("send_default_pii", subscript(Optional, builtin("bool")), none),
                         arg_default("traces_sampler", {}, none),
                         arg_default("open_telemetry_config", subscript(Optional, m.get("OpenTelemetryConfig")), none),
                         var_kwargs()},
                        {"dsn", "environment", "release", "profiles_sample_rate", "send_default_pii", "traces_sampler",
                         "open_telemetry_config", {"additional_options", "kwargs"}});
    nb::object SentryConfig = config.build();

    m.def({.name = "init_sentry",
           .params = {arg_default("config", subscript(Optional, SentryConfig), none)},
           .impl = init_sentry,
           .doc = "Start the Sentry SDK with the configured options; with an OpenTelemetry configuration, first start "
                  "OpenTelemetry's Sentry path and set the option instrumenter to \"otel\".",
           .returns = none});
}

}  // namespace zunt
