"""Plugin Authentication Modules."""
