"""A package whose module the instrumentor tests trace."""
