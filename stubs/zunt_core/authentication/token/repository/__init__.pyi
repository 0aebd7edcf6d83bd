"""Token repository."""
