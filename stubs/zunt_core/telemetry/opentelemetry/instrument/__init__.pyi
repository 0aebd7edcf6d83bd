"""Instrumentors: tracing of functions that the application names."""
