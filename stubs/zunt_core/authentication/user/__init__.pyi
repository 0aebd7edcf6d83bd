"""Authentication User."""
