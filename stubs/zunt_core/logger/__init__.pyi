"""Logger Modules."""
