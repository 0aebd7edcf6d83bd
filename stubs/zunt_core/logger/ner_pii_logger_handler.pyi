"""Logging handler that has an outside named-entity-recognition service mask personal data in log messages."""

import logging as logging

import requests as requests

class NerLoggerHandler(logging.Handler):
    api_url: str
    api_field: str
    pii_ner_process_enabled: bool
    def __init__(self, api_url: str, api_field: str, pii_ner_process_enabled: bool = False) -> None: ...
    def emit(self, record: logging.LogRecord) -> None: ...
    def process_message_using_ner(self, message: str) -> str: ...

def init_ner_pii_logging_handler(
    logger_name: str, api_url: str, api_field: str, pii_ner_process_enabled: bool = False
) -> None: ...
