"""User-specific helpers."""
