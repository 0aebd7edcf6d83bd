"""Authentication Token."""
