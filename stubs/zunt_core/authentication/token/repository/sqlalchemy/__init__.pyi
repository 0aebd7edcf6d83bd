"""SQLAlchemy Module."""
