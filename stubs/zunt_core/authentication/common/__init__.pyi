"""Common Utilities."""
