"""SQLAlchemy plugin repository module."""
