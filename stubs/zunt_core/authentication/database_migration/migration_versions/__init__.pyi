"""migration versions."""
