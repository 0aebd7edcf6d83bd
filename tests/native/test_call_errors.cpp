#include "zunt/call_errors.hpp"

#include <gtest/gtest.h>

using namespace zunt::text;

TEST(CallErrors, JoinsNamesLikeTheHost) {
    EXPECT_EQ(join_quoted_names({"a"}), "'a'");
    EXPECT_EQ(join_quoted_names({"a", "b"}), "'a' and 'b'");
    EXPECT_EQ(join_quoted_names({"a", "b", "c"}), "'a', 'b', and 'c'");
    EXPECT_EQ(join_quoted_names({"a", "b", "c", "d"}), "'a', 'b', 'c', and 'd'");
}

TEST(CallErrors, MissingArguments) {
    EXPECT_EQ(missing_arguments("f", "positional", {"x"}), "f() missing 1 required positional argument: 'x'");
    EXPECT_EQ(missing_arguments("A.f", "keyword-only", {"x", "y"}),
              "A.f() missing 2 required keyword-only arguments: 'x' and 'y'");
}

TEST(CallErrors, TooManyPositional) {
    struct Case {
        std::size_t at_least, at_most, given, kwonly;
        const char* expected;
    };
    const Case cases[] = {
        {1, 1, 2, 0, "f() takes 1 positional argument but 2 were given"},
        {0, 0, 1, 0, "f() takes 0 positional arguments but 1 was given"},
        {2, 2, 3, 0, "f() takes 2 positional arguments but 3 were given"},
        {1, 2, 3, 0, "f() takes from 1 to 2 positional arguments but 3 were given"},
        {1, 1, 2, 1, "f() takes 1 positional argument but 2 positional arguments (and 1 keyword-only argument) were given"},
        {0, 0, 1, 2, "f() takes 0 positional arguments but 1 positional argument (and 2 keyword-only arguments) were given"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(too_many_positional("f", c.at_least, c.at_most, c.given, c.kwonly), c.expected);
    }
}

TEST(CallErrors, KeywordMessages) {
    EXPECT_EQ(unexpected_keyword("f", "z"), "f() got an unexpected keyword argument 'z'");
    EXPECT_EQ(multiple_values("f", "x"), "f() got multiple values for argument 'x'");
}
