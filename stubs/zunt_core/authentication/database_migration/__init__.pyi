"""database migration."""
