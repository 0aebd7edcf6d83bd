"""Client repository."""
