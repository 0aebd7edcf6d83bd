"""Module for helpers classes and functions."""
