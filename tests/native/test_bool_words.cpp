#include "zunt/bool_words.hpp"

#include <gtest/gtest.h>

using zunt::text::parse_bool_word;

TEST(BoolWords, EightWords) {
    for (const char* w : {"true", "yes", "1", "on"}) EXPECT_EQ(parse_bool_word(w), true) << w;
    for (const char* w : {"false", "no", "0", "off"}) EXPECT_EQ(parse_bool_word(w), false) << w;
}

TEST(BoolWords, AnythingElseIsNothing) {
    for (const char* w : {"", " true", "true ", "y", "n", "t", "f", "2", "TRUE", "tru", "truee"}) {
        EXPECT_FALSE(parse_bool_word(w).has_value()) << '"' << w << '"';
    }
}
