"""Client helpers."""
