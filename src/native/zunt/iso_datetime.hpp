// ISO 8601 text of a naive date-time, as the host's datetime.isoformat()
// writes it with its defaults: "YYYY-MM-DDTHH:MM:SS", then ".ffffff" when the
// microseconds are not zero.
//
// The fields are read from the host's pickled state of a datetime, ten bytes:
// year (two bytes, big-endian), month, day, hour, minute, second and the
// microseconds (three bytes, big-endian). A state whose fields are out of
// range is refused, so that the caller can fall back to the host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zunt::text {

struct DateTimeFields {
    int year = 1;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int microsecond = 0;
};

// The fields of a ten-byte datetime state, or nullopt when the bytes are not
// one (wrong length, a field out of range, a day the month does not have).
std::optional<DateTimeFields> read_datetime_state(std::string_view state);

// "YYYY-MM-DDTHH:MM:SS[.ffffff]". The fields must be in range.
std::string iso_datetime(const DateTimeFields& dt);

}  // namespace zunt::text
