// zunt_core.telemetry.opentelemetry.initializer: OpenTelemetry start-up. One
// process-wide tracer provider (the class field OpenTelemetryConfig.provider),
// made by the first set-up and given one more span processor by every later
// one; either an OTLP exporter (gRPC or HTTP) or Sentry's span processor and
// propagator; then the library instrumentations the configuration asks for.
// Every name a caller may replace (exporters, processors, instrumentors, the
// helpers below) is read from the module at call time.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// OpenTelemetryConfig.__init__(self, endpoint="", trace_sampler=None, headers=None, attributes=None,
//     use_grpc=True, fastapi_config=None, use_langchain=False, use_httpx=True, use_requests=True)
nb::object OpenTelemetryConfig_init(Call& c) {
    nb::handle self = c[0];
    self.attr("endpoint") = c[1];
    self.attr("trace_sampler") = c[2];
    self.attr("headers") = c[3];
    // None means "no attributes": every object gets a map of its own. Any
    // other value, an empty map included, is kept as the caller's object.
    self.attr("attributes") = c[4].is_none() ? nb::object(nb::dict()) : nb::borrow(c[4]);
    self.attr("use_grpc") = c[5];
    self.attr("fastapi_config") = c[6];
    self.attr("use_langchain") = c[7];
    self.attr("use_httpx") = c[8];
    self.attr("use_requests") = c[9];
    return nb::none();
}

// init_otel_with_external_exporter(initializer)
nb::object init_otel_with_external_exporter(Call& c) {
    nb::handle initializer = c[0];
    if (!truthy(initializer.attr("endpoint"))) {
        raise(PyExc_ValueError, "Endpoint must be set before initializing OpenTelemetry.");
    }
    c.global("_setup_tracer_provider")(initializer);
    const char* exporter_name = truthy(initializer.attr("use_grpc")) ? "OTLPSpanExporter" : "OTLPHTTPSpanExporter";
    nb::object exporter = c.global(exporter_name)(nb::arg("endpoint") = initializer.attr("endpoint"),
                                                  nb::arg("headers") = initializer.attr("headers"));
    nb::object processor = c.global("BatchSpanProcessor")(exporter);
    initializer.attr("provider").attr("add_span_processor")(processor);
    c.global("trace").attr("set_tracer_provider")(initializer.attr("provider"));
    c.global("_auto_initialize_services")(initializer);
    return nb::none();
}

// init_otel_sentry(initializer)
nb::object init_otel_sentry(Call& c) {
    nb::handle initializer = c[0];
    c.global("_setup_tracer_provider")(initializer);
    initializer.attr("provider").attr("add_span_processor")(c.global("SentrySpanProcessor")());
    c.global("trace").attr("set_tracer_provider")(initializer.attr("provider"));
    c.global("set_global_textmap")(c.global("SentryPropagator")());
    c.global("_auto_initialize_services")(initializer);
    return nb::none();
}

// _setup_tracer_provider(initializer): the first set-up makes the shared
// provider; a later one keeps it (its sampler and processors too) and merges
// the new attributes into its resource.
nb::object setup_tracer_provider(Call& c) {
    nb::handle initializer = c[0];
    nb::object provider = initializer.attr("provider");
    if (provider.is_none()) {
        nb::object resource = c.global("Resource")(nb::arg("attributes") = initializer.attr("attributes"));
        c.global("OpenTelemetryConfig").attr("provider") = c.global("TracerProvider")(
            nb::arg("sampler") = initializer.attr("trace_sampler"), nb::arg("resource") = resource);
        return nb::none();
    }
    nb::object current = provider.attr("resource").attr("attributes");
    nb::object merged = steal_or_throw(call_one(reinterpret_cast<PyObject*>(&PyDict_Type), current.ptr()));
    c.global("print")(steal_or_throw(PyUnicode_FromFormat("Current resource attributes: %S", merged.ptr())));
    for (nb::handle pair : initializer.attr("attributes").attr("items")()) {
        nb::object key = pair[0];
        nb::object value = pair[1];
        merged[key] = value;
    }
    // The SDK has no public way to replace a provider's resource. A tracer is
    // made with the provider's resource at the time: tracers obtained before
    // this keep the old one. SDKs that keep one tracer per instrumentation
    // scope would hand those out again, so the spans of every scope seen before
    // (the function tracer's among them) would never carry the merged
    // resource: that cache is emptied, and tracers obtained from now on are new.
    provider.attr("_resource") = c.global("Resource")(nb::arg("attributes") = merged);
    nb::object cache = attr_or_missing(provider, "_tracers");
    if (cache.is_valid() && PyDict_Check(cache.ptr())) cache.attr("clear")();
    return nb::none();
}

// _auto_initialize_services(initializer): web application, Langchain, httpx,
// requests, in this order, each when its switch is true.
nb::object auto_initialize_services(Call& c) {
    nb::handle initializer = c[0];
    nb::object fastapi_config = initializer.attr("fastapi_config");
    if (truthy(fastapi_config)) c.global("_init_fastapi")(fastapi_config.attr("app"));
    if (truthy(initializer.attr("use_langchain"))) c.global("_init_langchain")();
    if (truthy(initializer.attr("use_httpx"))) c.global("_init_httpx")();
    if (truthy(initializer.attr("use_requests"))) c.global("_init_requests")();
    return nb::none();
}

nb::object init_fastapi(Call& c) {
    c.global("FastAPIInstrumentor")().attr("instrument_app")(c[0]);
    return nb::none();
}

nb::object init_langchain(Call& c) {
    c.global("LangchainInstrumentor")().attr("instrument")();
    return nb::none();
}

nb::object init_httpx(Call& c) {
    c.global("HTTPXClientInstrumentor")().attr("instrument")();
    return nb::none();
}

nb::object init_requests(Call& c) {
    c.global("RequestsInstrumentor")().attr("instrument")();
    return nb::none();
}

}  // namespace

void build_zunt_core_telemetry_opentelemetry_initializer(ModuleScope& m) {
    m.doc("OpenTelemetry start-up: the shared tracer provider, an OTLP exporter or Sentry's span processor, and "
          "the library instrumentations.");
    m.from_import("typing", {"Dict", "Optional"});
    m.from_import("fastapi", {"FastAPI"});
    m.from_import("opentelemetry", {"trace"});
    m.from_import("opentelemetry.exporter.otlp.proto.grpc.trace_exporter", {"OTLPSpanExporter"});
    m.from_import_as("opentelemetry.exporter.otlp.proto.http.trace_exporter", "OTLPSpanExporter",
                     "OTLPHTTPSpanExporter");
    m.from_import("opentelemetry.instrumentation.fastapi", {"FastAPIInstrumentor"});
    m.from_import("opentelemetry.instrumentation.httpx", {"HTTPXClientInstrumentor"});
    m.from_import("opentelemetry.instrumentation.langchain", {"LangchainInstrumentor"});
    m.from_import("opentelemetry.instrumentation.requests", {"RequestsInstrumentor"});
    m.from_import("opentelemetry.propagate", {"set_global_textmap"});
    m.from_import("opentelemetry.sdk.resources", {"Resource"});
    m.from_import("opentelemetry.sdk.trace", {"TracerProvider"});
    m.from_import("opentelemetry.sdk.trace.export", {"BatchSpanProcessor"});
    m.from_import("opentelemetry.sdk.trace.sampling", {"Sampler"});
    m.from_import("sentry_sdk.integrations.opentelemetry", {"SentrySpanProcessor", "SentryPropagator"});

    nb::object Optional = m.get("Optional");
    nb::object str = builtin("str");
    nb::object bool_ = builtin("bool");
    nb::object none = nb::none();
    nb::object true_ = nb::bool_(true);
    nb::object false_ = nb::bool_(false);
    nb::object str_map = subscript(m.get("Dict"), {str, str});

    ClassBuilder fastapi_config(m, "FastAPIConfig", "The web application whose requests are traced.");
    fastapi_config.storing_init({arg("app", m.get("FastAPI"))}, {"app"});
    nb::object FastAPIConfig = fastapi_config.build();

    ClassBuilder config(m, "OpenTelemetryConfig",
                        "One tracing configuration: the OTLP collector endpoint and headers, resource attributes, "
                        "sampler, and the instrumentations to switch on. The class field `provider` holds the "
                        "process-wide tracer provider.");
    config.annotate("provider", subscript(Optional, m.get("TracerProvider"))).attr("provider", none);
    config.method({.name = "__init__",
                   .params = {arg("self"), arg_default("endpoint", str, nb::str("")),
                              arg_default("trace_sampler", subscript(Optional, m.get("Sampler")), none),
                              arg_default("headers", subscript(Optional, str_map), none),
                              arg_default("attributes", subscript(Optional, str_map), none),
                              arg_default("use_grpc", bool_, true_),
                              arg_default("fastapi_config", subscript(Optional, FastAPIConfig), none),
                              arg_default("use_langchain", bool_, false_), arg_default("use_httpx", bool_, true_),
                              arg_default("use_requests", bool_, true_)},
                   .impl = OpenTelemetryConfig_init,
                   .returns = none});
    nb::object OpenTelemetryConfig = config.build();

    m.def({.name = "init_otel_with_external_exporter",
           .params = {arg("initializer", OpenTelemetryConfig)},
           .impl = init_otel_with_external_exporter,
           .doc = "Start tracing with a batch span processor on an OTLP span exporter (gRPC, or HTTP when use_grpc is "
                  "false) to the configured endpoint, register the provider globally and switch on the configured "
                  "instrumentations.",
           .returns = none});
    m.def({.name = "init_otel_sentry",
           .params = {arg("initializer", OpenTelemetryConfig)},
           .impl = init_otel_sentry,
           .doc = "Start tracing for Sentry: Sentry's span processor on the shared provider, Sentry's propagator as "
                  "the global text-map propagator, and the configured instrumentations.",
           .returns = none});
    m.def({.name = "_setup_tracer_provider", .params = {arg("initializer", OpenTelemetryConfig)},
           .impl = setup_tracer_provider,
           .doc = "Create the shared tracer provider, or merge the configured attributes into its resource.",
           .returns = none});
    m.def({.name = "_auto_initialize_services", .params = {arg("initializer", OpenTelemetryConfig)},
           .impl = auto_initialize_services,
           .doc = "Switch on the configured library instrumentations.", .returns = none});
    m.def({.name = "_init_fastapi", .params = {arg("app", m.get("FastAPI"))}, .impl = init_fastapi,
           .doc = "Trace the web application's requests.",
           .returns = none});
    m.def({.name = "_init_langchain", .params = {}, .impl = init_langchain, .doc = "Trace Langchain calls.",
           .returns = none});
    m.def({.name = "_init_httpx", .params = {}, .impl = init_httpx, .doc = "Trace httpx client calls.",
           .returns = none});
    m.def({.name = "_init_requests", .params = {}, .impl = init_requests, .doc = "Trace requests calls.",
           .returns = none});
}

}  // namespace zunt
