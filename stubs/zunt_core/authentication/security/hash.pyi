"""Base class for password hashing services."""

from abc import ABC, abstractmethod
from abc import abstractmethod as abstractmethod

class PasswordHashService(ABC):
    """Base class for password hashing services."""

    @abstractmethod
    def hash(self, password: str) -> str:
        """Hashes a password."""

    @abstractmethod
    def verify(self, password: str, hashed_password: str) -> bool:
        """Verifies a password against a hashed password."""
