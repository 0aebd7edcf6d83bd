"""Base64 helper."""

import base64 as base64
from typing import Any

def encode_base64(to_encode: Any) -> str: ...
def decode_base64(to_decode: str) -> str: ...
