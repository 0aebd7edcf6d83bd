"""User repository."""
