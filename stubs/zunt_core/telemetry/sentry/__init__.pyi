"""Sentry start-up."""
