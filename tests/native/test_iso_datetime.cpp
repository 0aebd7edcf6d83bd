#include "zunt/iso_datetime.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace zunt::text;

namespace {

std::string state(int year, int month, int day, int hour, int minute, int second, int us) {
    std::string s(10, '\0');
    s[0] = static_cast<char>(year >> 8);
    s[1] = static_cast<char>(year & 0xff);
    s[2] = static_cast<char>(month);
    s[3] = static_cast<char>(day);
    s[4] = static_cast<char>(hour);
    s[5] = static_cast<char>(minute);
    s[6] = static_cast<char>(second);
    s[7] = static_cast<char>((us >> 16) & 0xff);
    s[8] = static_cast<char>((us >> 8) & 0xff);
    s[9] = static_cast<char>(us & 0xff);
    return s;
}

}  // namespace

TEST(IsoDateTime, Formats) {
    struct Case {
        DateTimeFields dt;
        const char* text;
    };
    const Case cases[] = {
        {{2024, 1, 1, 0, 0, 0, 0}, "2024-01-01T00:00:00"},
        {{1, 1, 1, 0, 0, 0, 0}, "0001-01-01T00:00:00"},
        {{9999, 12, 31, 23, 59, 59, 999999}, "9999-12-31T23:59:59.999999"},
        {{2024, 2, 29, 5, 6, 7, 1}, "2024-02-29T05:06:07.000001"},
        {{987, 10, 3, 12, 0, 9, 500000}, "0987-10-03T12:00:09.500000"},
    };
    for (const Case& c : cases) EXPECT_EQ(iso_datetime(c.dt), c.text);
}

TEST(IsoDateTime, ReadsState) {
    auto dt = read_datetime_state(state(2024, 2, 29, 23, 59, 58, 123456));
    ASSERT_TRUE(dt.has_value());
    EXPECT_EQ(iso_datetime(*dt), "2024-02-29T23:59:58.123456");
    dt = read_datetime_state(state(9999, 12, 31, 0, 0, 0, 999999));
    ASSERT_TRUE(dt.has_value());
    EXPECT_EQ(dt->year, 9999);
    EXPECT_EQ(dt->microsecond, 999999);
}

TEST(IsoDateTime, RefusesWhatIsNotAState) {
    const std::string refused[] = {
        "",
        std::string(9, '\0'),
        state(2024, 1, 1, 0, 0, 0, 0) + "x",
        state(0, 1, 1, 0, 0, 0, 0),
        state(10000, 1, 1, 0, 0, 0, 0),
        state(2024, 0, 1, 0, 0, 0, 0),
        state(2024, 13, 1, 0, 0, 0, 0),
        state(2024, 1 | 0x80, 1, 0, 0, 0, 0),  // a fold bit: not the plain state
        state(2023, 2, 29, 0, 0, 0, 0),
        state(1900, 2, 29, 0, 0, 0, 0),
        state(2024, 4, 31, 0, 0, 0, 0),
        state(2024, 1, 0, 0, 0, 0, 0),
        state(2024, 1, 1, 24, 0, 0, 0),
        state(2024, 1, 1, 0, 60, 0, 0),
        state(2024, 1, 1, 0, 0, 60, 0),
        state(2024, 1, 1, 0, 0, 0, 1000000),
    };
    for (const std::string& s : refused) EXPECT_FALSE(read_datetime_state(s).has_value());
    EXPECT_TRUE(read_datetime_state(state(2000, 2, 29, 0, 0, 0, 0)).has_value());
}
