#include "zunt/camel_case.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

using namespace zunt::text;

namespace {

std::string step1(std::string_view s) { return break_before_words(s); }
std::string step2(std::string_view s) { return break_after_lower(s); }

}  // namespace

TEST(CamelCase, CommonWords) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"helloWorld", "hello_world"},   {"APIResponse", "api_response"}, {"IOStream", "io_stream"},
        {"userID", "user_id"},           {"snake_Case", "snake__case"},   {"already_snake", "already_snake"},
        {"", ""},                        {"A", "a"},                      {"Ab", "ab"},
        {"aB", "a_b"},                   {"HTTPServerError", "http_server_error"},
        {"getHTTPResponseCode", "get_http_response_code"},
        {"version2Update", "version2_update"}, {"item9X", "item9_x"},   {"ABC", "abc"},
        {"__Init__", "___init__"},        {"x-Y", "x-y"},
    };
    for (const Case& c : cases) EXPECT_EQ(camel_to_snake_ascii(c.in), c.out) << c.in;
}

TEST(CamelCase, FirstStepResumesAfterEachMatch) {
    // "aBc" matches; its last "c" cannot start the next match "cDe".
    EXPECT_EQ(step1("aBcDe"), "a_BcDe");
    EXPECT_EQ(step2("a_BcDe"), "a_Bc_De");
    EXPECT_EQ(camel_to_snake_ascii("aBcDe"), "a_bc_de");
    // The lower-case run is taken whole, so "dEfg" is no match either;
    // the second step then splits "dE".
    EXPECT_EQ(step1("xAbcdEfg"), "x_AbcdEfg");
    EXPECT_EQ(camel_to_snake_ascii("xAbcdEfg"), "x_abcd_efg");
    // Two capitals in a row: the word starts at the last one.
    EXPECT_EQ(step1("ABc"), "A_Bc");
}

TEST(CamelCase, FirstStepNeedsALowerCaseLetter) {
    EXPECT_EQ(step1("aB"), "aB");
    EXPECT_EQ(step1("aB1"), "aB1");
    EXPECT_EQ(step1("Abc"), "Abc");  // nothing before the capital
}

TEST(CamelCase, DotDoesNotMatchLineFeed) {
    EXPECT_EQ(step1("\nAbc"), "\nAbc");
    EXPECT_EQ(step1("\n\nAbc"), "\n\nAbc");
    EXPECT_EQ(step1("\rAbc"), "\r_Abc");
    EXPECT_EQ(step1("x\nAbcDef"), "x\nAbc_Def");
}

TEST(CamelCase, SecondStepDoesNotOverlap) {
    EXPECT_EQ(step2("aBC"), "a_BC");
    EXPECT_EQ(step2("aB1C"), "a_B1_C");
    EXPECT_EQ(step2("1A2B"), "1_A2_B");
    EXPECT_EQ(step2("_A"), "_A");
}

TEST(CamelCase, ClassesAreAsciiOnly) {
    // Code points outside ASCII: "." matches them, the letter classes do not.
    std::u32string in = U"\u00e9Abc\u00c9x";
    EXPECT_EQ(break_before_words(std::u32string_view(in)), U"\u00e9_Abc\u00c9x");
    std::u32string in2 = U"\u00e9A\u00e0B";
    EXPECT_EQ(insert_word_breaks(std::u32string_view(in2)), in2);
    std::u32string in3 = U"\U0001F600Xyz";
    EXPECT_EQ(insert_word_breaks(std::u32string_view(in3)), U"\U0001F600_Xyz");
}

TEST(CamelCase, AsciiLowerLeavesOtherCodePoints) {
    std::u32string s = U"AZ\u00c9az_";
    ascii_lower(s);
    EXPECT_EQ(s, U"az\u00c9az_");
}
