"""ZUNT Core Library Module."""
