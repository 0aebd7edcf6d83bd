#include "zunt/key_layout.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zunt::keys;

namespace {

std::vector<std::string> split(std::string_view text, std::string_view delimiter) {
    std::vector<std::string> out;
    for (std::string_view piece : split_all(text, delimiter)) out.emplace_back(piece);
    return out;
}

}  // namespace

TEST(KeyLayout, DropsCodePointsNotBytes) {
    EXPECT_EQ(drop_code_points("sk-client-abc", 10), "abc");
    EXPECT_EQ(drop_code_points("sk-user-abc", 8), "abc");
    EXPECT_EQ(drop_code_points("\xc3\xa9\xe2\x82\xac" "ab", 2), "ab");        // two code points: é€
    EXPECT_EQ(drop_code_points("\xf0\x9f\x94\x91.x", 1), ".x");               // one four-byte code point
    EXPECT_EQ(drop_code_points("short", 10), "");
    EXPECT_EQ(drop_code_points("", 10), "");
    EXPECT_EQ(drop_code_points("abc", 0), "abc");
}

TEST(KeyLayout, SplitsLikeStrSplit) {
    EXPECT_EQ(split("a.b.c", "."), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(split("", "."), (std::vector<std::string>{""}));
    EXPECT_EQ(split("a..c", "."), (std::vector<std::string>{"a", "", "c"}));
    EXPECT_EQ(split(".a.", "."), (std::vector<std::string>{"", "a", ""}));
    EXPECT_EQ(split("a.b.c.d.e", "."), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(split("a::b:::c", "::"), (std::vector<std::string>{"a", "b", ":c"}));
    EXPECT_EQ(split("x\xc3\xa9y\xc3\xa9z", "\xc3\xa9"), (std::vector<std::string>{"x", "y", "z"}));
}

TEST(KeyLayout, JoinsPrefixAndSegments) {
    EXPECT_EQ(join_key("sk-client-", "aWQ", "bmFtZQ", "s3cr3t", "."), "sk-client-aWQ.bmFtZQ.s3cr3t");
    EXPECT_EQ(join_key("sk-user-", "aWQ", "", "s", "."), "sk-user-aWQ..s");
}

TEST(KeyLayout, ConstantTimeEquality) {
    EXPECT_TRUE(constant_time_equal("", ""));
    EXPECT_TRUE(constant_time_equal("same secret", "same secret"));
    EXPECT_FALSE(constant_time_equal("same secret", "same secreT"));
    EXPECT_FALSE(constant_time_equal("short", "shorter"));
    EXPECT_FALSE(constant_time_equal("shorter", "short"));
    EXPECT_FALSE(constant_time_equal("", "x"));
    EXPECT_FALSE(constant_time_equal(std::string_view("a\0b", 3), std::string_view("a\0c", 3)));
}
