#include "zunt/iso_datetime.hpp"

namespace zunt::text {

namespace {

bool is_leap(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int days_in_month(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

// Writes `value` as exactly `width` decimal digits, zero-padded.
char* put_digits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

}  // namespace

std::optional<DateTimeFields> read_datetime_state(std::string_view state) {
    if (state.size() != 10) return std::nullopt;
    auto byte = [&](std::size_t i) { return static_cast<int>(static_cast<unsigned char>(state[i])); };
    DateTimeFields dt;
    dt.year = byte(0) * 256 + byte(1);
    dt.month = byte(2);
    dt.day = byte(3);
    dt.hour = byte(4);
    dt.minute = byte(5);
    dt.second = byte(6);
    dt.microsecond = (byte(7) << 16) | (byte(8) << 8) | byte(9);
    if (dt.year < 1 || dt.year > 9999 || dt.month < 1 || dt.month > 12 || dt.day < 1 ||
        dt.day > days_in_month(dt.year, dt.month) || dt.hour > 23 || dt.minute > 59 || dt.second > 59 ||
        dt.microsecond > 999999) {
        return std::nullopt;
    }
    return dt;
}

std::string iso_datetime(const DateTimeFields& dt) {
    char buffer[26];  // "YYYY-MM-DDTHH:MM:SS.ffffff"
    char* p = buffer;
    p = put_digits(p, dt.year, 4);
    *p++ = '-';
    p = put_digits(p, dt.month, 2);
    *p++ = '-';
    p = put_digits(p, dt.day, 2);
    *p++ = 'T';
    p = put_digits(p, dt.hour, 2);
    *p++ = ':';
    p = put_digits(p, dt.minute, 2);
    *p++ = ':';
    p = put_digits(p, dt.second, 2);
    if (dt.microsecond != 0) {
        *p++ = '.';
        p = put_digits(p, dt.microsecond, 6);
    }
    return std::string(buffer, static_cast<std::size_t>(p - buffer));
}

}  // namespace zunt::text
