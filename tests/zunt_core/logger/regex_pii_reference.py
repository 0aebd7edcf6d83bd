"""A plain-Python regex PII-masking log handler with the same patterns and steps
as zunt_core.logger.regex_pii_logger_handler: the reference of the
differential tests and the yardstick of bench/bench_regex_pii*.py. An empty
found text masks nothing."""

import logging
import re


class RegexLoggerHandler(logging.Handler):
    REGEX_KTP = re.compile(r"(\d{8}([04][1-9]|[1256][0-9]|[37][01])\d{2}\d{4})(?![a-zA-Z0-9])")
    REGEX_NPWP = re.compile(r"([\d]{2}[.][\d]{3}[.][\d]{3}[.][\d][-][\d]{3}[.][\d]{3}\b)")
    REGEX_PHONE_NUMBER = [
        re.compile(r"(?<!\w)(?:\+62|0|62)(?:8[1-9]|2[1-9]|3[1-468]|5[1-9]|7[0-8]|9[0-8])[0-9]{7,10}\b"),
        re.compile(
            r"(?<!\w)(?:\+62|0|62)\s?(?:8[1-9]|2[1-9]|3[1-468]|5[1-9]|7[0-8]|9[0-8])\d{0,2}[-\s]\d{3,4}[-\s]\d{3,4}\b"
        ),
    ]
    REGEX_EMAIL_ADDRESS = re.compile(r"([a-zA-Z0-9._%+-]+@[a-zA-Z0-9.-]+\.[a-zA-Z]{2,})")

    def __init__(self, pii_regex_process_enabled: bool = False):
        super().__init__()
        self.pii_regex_process_enabled = pii_regex_process_enabled

    def emit(self, record: logging.LogRecord) -> None:
        if not self.pii_regex_process_enabled:
            return
        record.msg = self.process_message_using_regex(record.getMessage())
        record.args = ()

    def process_message_using_regex(self, message: str) -> str:
        message = self.mask_ktp_number(message)
        message = self.mask_npwp_number(message)
        message = self.mask_phone_number(message)
        return self.mask_email_address(message)

    def mask_ktp_number(self, ktp_number: str) -> str:
        for found in re.findall(self.REGEX_KTP, ktp_number):
            text = found[0]
            ktp_number = ktp_number.replace(text, text[:2] + "******" + text[-2:])
        return ktp_number

    def mask_npwp_number(self, npwp_number: str) -> str:
        for found in re.findall(self.REGEX_NPWP, npwp_number):
            if not found:
                continue
            npwp_number = npwp_number.replace(found, found[:2] + ".***.***." + found[-2:])
        return npwp_number

    def mask_phone_number(self, phone_number: str) -> str:
        for pattern in self.REGEX_PHONE_NUMBER:
            for found in re.findall(pattern, phone_number):
                if not found:
                    continue
                phone_number = phone_number.replace(found, found[:4] + "******" + found[-4:])
        return phone_number

    def mask_email_address(self, email_address: str) -> str:
        for found in re.findall(self.REGEX_EMAIL_ADDRESS, email_address):
            if not found:
                continue
            email_address = email_address.replace(found, found[:2] + "******" + found[-2:])
        return email_address
