"""OpenTelemetry start-up and the function-tracing instrumentor."""
