"""Authentication Client."""
