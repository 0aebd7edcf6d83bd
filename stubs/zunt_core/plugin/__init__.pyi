"""Plugin Modules."""
