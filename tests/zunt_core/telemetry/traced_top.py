"""A top-level module whose function the instrumentor tests trace."""


def double(x):
    return x * 2
