"""The telemetry packages as an application imports them: what each loads,
in which order, and what it exports."""

import pytest

from import_probe import import_probe
from telemetry_servers import run_script

# The recorder, installed once the package itself is loaded: it sees what the
# telemetry tree requests beyond it.
PROBE = import_probe("", before="import zunt_core")

TELEMETRY_MODULES = [
    "zunt_core.telemetry",
    "zunt_core.telemetry.initializer",
    "zunt_core.telemetry.opentelemetry",
    "zunt_core.telemetry.opentelemetry.initializer",
    "zunt_core.telemetry.sentry",
    "zunt_core.telemetry.sentry.initializer",
]

LIBRARIES = [
    "fastapi",
    "opentelemetry.trace",
    "opentelemetry.exporter.otlp.proto.grpc.trace_exporter",
    "opentelemetry.exporter.otlp.proto.http.trace_exporter",
    "opentelemetry.instrumentation.fastapi",
    "opentelemetry.instrumentation.httpx",
    "opentelemetry.instrumentation.langchain",
    "opentelemetry.instrumentation.requests",
    "opentelemetry.propagate",
    "opentelemetry.sdk.resources",
    "opentelemetry.sdk.trace",
    "opentelemetry.sdk.trace.export",
    "opentelemetry.sdk.trace.sampling",
    "sentry_sdk",
    "sentry_sdk.integrations.opentelemetry",
]


def test_package_loads_set_up_modules_and_every_telemetry_library_but_not_the_instrumentor():
    script = run_script(
        PROBE
        + """
import zunt_core.telemetry
emit({
    "order": Recorder.seen,
    "loaded": sorted(m for m in sys.modules if m.startswith("zunt_core.")),
    "libraries": [m for m in LIBRARIES if m in sys.modules],
    "instrumentor_loaded": "zunt_core.telemetry.opentelemetry.instrument" in sys.modules,
})
""",
        LIBRARIES=LIBRARIES,
    )
    result = script.result
    assert result["order"] == TELEMETRY_MODULES
    assert [m for m in result["loaded"] if m.startswith("zunt_core.telemetry")] == TELEMETRY_MODULES
    assert result["libraries"] == LIBRARIES
    assert result["instrumentor_loaded"] is False


def test_names_are_bound_in_import_order():
    from zunt_core.telemetry import initializer as entry
    from zunt_core.telemetry.opentelemetry import initializer as otel
    from zunt_core.telemetry.sentry import initializer as sentry

    def names(module):
        return [k for k in vars(module) if not k.startswith("__")]

    assert names(otel)[:17] == [
        "Dict",
        "Optional",
        "FastAPI",
        "trace",
        "OTLPSpanExporter",
        "OTLPHTTPSpanExporter",
        "FastAPIInstrumentor",
        "HTTPXClientInstrumentor",
        "LangchainInstrumentor",
        "RequestsInstrumentor",
        "set_global_textmap",
        "Resource",
        "TracerProvider",
        "BatchSpanProcessor",
        "Sampler",
        "SentrySpanProcessor",
        "SentryPropagator",
    ]
    assert names(otel)[17:] == [
        "FastAPIConfig",
        "OpenTelemetryConfig",
        "init_otel_with_external_exporter",
        "init_otel_sentry",
        "_setup_tracer_provider",
        "_auto_initialize_services",
        "_init_fastapi",
        "_init_langchain",
        "_init_httpx",
        "_init_requests",
    ]
    assert names(sentry) == ["Optional", "sentry_sdk", "OpenTelemetryConfig", "init_otel_sentry", "SentryConfig",
                             "init_sentry"]
    assert names(entry) == ["Optional", "OpenTelemetryConfig", "init_otel_with_external_exporter", "SentryConfig",
                            "init_sentry", "TelemetryConfig", "init_telemetry"]


@pytest.mark.parametrize(
    "missing",
    ["fastapi", "opentelemetry.instrumentation.langchain", "sentry_sdk", "sentry_sdk.integrations.opentelemetry"],
)
def test_a_missing_library_makes_the_package_fail_to_load(missing):
    script = run_script(
        """
import sys

class Hide:
    @staticmethod
    def find_spec(name, path=None, target=None):
        if name == MISSING:
            raise ModuleNotFoundError(f"No module named {name!r}", name=name)
        return None

sys.meta_path.insert(0, Hide)
try:
    import zunt_core.telemetry
except ModuleNotFoundError as error:
    emit(error.name)
""",
        MISSING=missing,
    )
    assert script.result == missing


def test_exports():
    import zunt_core.telemetry as telemetry
    from zunt_core.telemetry.initializer import TelemetryConfig, init_telemetry
    from zunt_core.telemetry.opentelemetry.initializer import FastAPIConfig, OpenTelemetryConfig
    from zunt_core.telemetry.sentry.initializer import SentryConfig

    assert telemetry.__all__ == ["OpenTelemetryConfig", "SentryConfig", "TelemetryConfig", "init_telemetry",
                                 "FastAPIConfig"]
    assert telemetry.TelemetryConfig is TelemetryConfig and telemetry.init_telemetry is init_telemetry
    assert telemetry.FastAPIConfig is FastAPIConfig and telemetry.OpenTelemetryConfig is OpenTelemetryConfig
    assert telemetry.SentryConfig is SentryConfig
    for hidden in ("init_sentry", "init_otel_with_external_exporter", "init_otel_sentry", "ZUNTFunctionsInstrumentor"):
        assert not hasattr(telemetry, hidden)


def test_sub_packages_hold_only_their_docstring():
    import zunt_core.telemetry.opentelemetry as otel_package
    import zunt_core.telemetry.opentelemetry.instrument as instrument_package
    import zunt_core.telemetry.sentry as sentry_package

    for package, submodules in [
        (otel_package, {"initializer", "instrument"}),
        (instrument_package, {"functions"}),
        (sentry_package, {"initializer"}),
    ]:
        assert package.__doc__
        assert not hasattr(package, "__all__")
        assert {k for k in vars(package) if not k.startswith("__")} <= submodules


def test_instrumentor_module_loads_only_when_imported_itself():
    script = run_script(
        PROBE
        + """
import zunt_core.telemetry
before = set(sys.modules)
from zunt_core.telemetry.opentelemetry.instrument import functions
emit({
    "order": Recorder.seen[len(TELEMETRY_MODULES):],
    "names": [k for k in vars(functions) if not k.startswith("__")],
})
""",
        TELEMETRY_MODULES=TELEMETRY_MODULES,
    )
    assert script.result == {
        "order": [
            "zunt_core.telemetry.opentelemetry.instrument",
            "zunt_core.telemetry.opentelemetry.instrument.functions",
        ],
        "names": [
            "inspect",
            "Callable",
            "Collection",
            "Dict",
            "Set",
            "Tuple",
            "wrapt",
            "trace",
            "BaseInstrumentor",
            "unwrap",
            "ZUNTFunctionsInstrumentor",
        ],
    }
