#include "zunt/pii_patterns.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

using namespace zunt::pii;

namespace {

// A few code points beyond ASCII, classified as the host's str predicates do.
std::uint8_t test_lookup(char32_t c) {
    if (c >= 0x660 && c <= 0x669) return decimal | word;  // Arabic-Indic digits
    if (c == 0xE9) return word;                           // é
    if (c == 0xB2) return word;                           // ², a digit but no decimal
    if (c == 0xA0 || c == 0x2003) return space;           // no-break space, em space
    return 0;
}

const CharClasses classes(test_lookup);

std::vector<Span> spans(Pattern p, std::u32string_view text) { return find_all(p, text, classes); }

std::vector<Span> spans_ascii(Pattern p, std::string_view text) { return find_all(p, text, classes); }

std::u32string widen(std::string_view ascii) { return std::u32string(ascii.begin(), ascii.end()); }

struct Case {
    std::u32string_view text;
    std::vector<Span> expected;
};

// Every case against both the code-point and (when ASCII) the byte scan.
void check(Pattern p, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(spans(p, c.text), c.expected) << "pattern " << int(p) << " case " << (&c - cases.data());
        bool ascii = true;
        for (char32_t ch : c.text) ascii = ascii && ch < 128;
        if (ascii) {
            std::string bytes(c.text.begin(), c.text.end());
            EXPECT_EQ(spans_ascii(p, bytes), c.expected) << "ascii case " << (&c - cases.data());
        }
    }
}

}  // namespace

// The expected spans below are those of the host's re.finditer.
TEST(PiiPatterns, IdentityCardNumber) {
    check(Pattern::ktp, {
                            {U"nik 3201019931900001 ok", {{4, 20}}},
                            {U"3201019971900001", {{0, 16}}},
                            {U"3201019900900001", {}},  // day 00
                            {U"3201019932900001", {}},  // day 32
                            {U"3201019972900001", {}},  // day 72
                            {U"13201019931900001", {{1, 17}}},
                            {U"x3201019931900001", {{1, 17}}},
                            {U"3201019931900001a", {}},
                            {U"3201019931900001_", {{0, 16}}},
                            {U"3201019931900001.", {{0, 16}}},
                            {U"32010199329000013201019941900001 ", {{16, 32}}},
                            {U"32010199319000013201019931900001", {{16, 32}}},
                            {U"\u0663\u0662\u0660\u0661\u0660\u0661\u0669\u066931\u0669\u0660\u0660\u0660\u0660\u0661",
                             {{0, 16}}},
                            {U"3201019931900001\u0661", {{0, 16}}},
                            {U"32010199\u0663\u0661900001", {}},  // the day must be ASCII
                            {U"", {}},
                        });
}

TEST(PiiPatterns, TaxNumber) {
    check(Pattern::npwp, {
                             {U"npwp 01.234.567.8-901.234 ok", {{5, 25}}},
                             {U"01.234.567.8-901.2345", {}},
                             {U"01.234.567.8-901.234a", {}},
                             {U"01.234.567.8-901.234_", {}},
                             {U"01.234.567.8-901.234\u00e9", {}},
                             {U"01.234.567.8-901.234.5", {{0, 20}}},
                             {U"\u0660\u0661.234.567.8-901.234", {{0, 20}}},
                             {U"x01.234.567.8-901.234", {{1, 21}}},
                             {U"01.234.567.8-901.234 01.234.567.8-901.234", {{0, 20}, {21, 41}}},
                         });
}

TEST(PiiPatterns, UnbrokenPhoneNumber) {
    check(Pattern::phone_unbroken, {
                                       {U"call 081234567890 now", {{5, 17}}},
                                       {U"+6281234567890", {{0, 14}}},
                                       {U"6281234567", {}},
                                       {U"08123456", {}},
                                       {U"0812345678901", {{0, 13}}},
                                       {U"08123456789012", {}},
                                       {U"a081234567890", {}},
                                       {U"_081234567890", {}},
                                       {U"\u00e9081234567890", {}},
                                       {U"081234567890a", {}},
                                       {U"081234567890_", {}},
                                       {U"0812345678\u0661", {}},
                                       {U"0812345678\u00b2", {}},
                                       {U"0812345678 0813456789", {{0, 10}, {11, 21}}},
                                       {U"+0812345678", {{1, 11}}},
                                       {U"a+6281234567", {}},
                                       {U"a+62812345678", {{2, 13}}},
                                       {U"0612345678", {}},
                                       {U"0361234567", {{0, 10}}},
                                       {U"0351234567", {}},
                                       {U"070123456789", {{0, 12}}},
                                       {U"0791234567", {}},
                                   });
}

TEST(PiiPatterns, GroupedPhoneNumber) {
    check(Pattern::phone_grouped, {
                                      {U"+62 812-3456-7890", {{0, 17}}},
                                      {U"0812 3456 789", {{0, 13}}},
                                      {U"0812-345-6789x", {}},
                                      {U"0812-345-6789 ", {{0, 13}}},
                                      {U"081234-345-678", {}},
                                      {U"0812345-345-678", {}},
                                      {U"0812\u00a03456\u20037890", {{0, 14}}},
                                      {U"+62  812-3456-7890", {}},
                                      {U"0812-\u0663\u0664\u0665-\u0666\u0667\u0668", {{0, 12}}},
                                      {U"0812-34567-890", {}},
                                      {U"0812-345-67890", {}},
                                      {U"a0812-345-678", {}},
                                      {U"0812--345-678", {}},
                                      {U"0812-345-678 0812-345-678", {{0, 12}, {13, 25}}},
                                  });
}

TEST(PiiPatterns, EmailAddress) {
    check(Pattern::email, {
                              {U"mail john.doe@example.com now", {{5, 25}}},
                              {U"a@b.co", {{0, 6}}},
                              {U"a@b.c", {}},
                              {U"ab@cd.ef.g1x@y.zz", {{0, 8}, {8, 17}}},
                              {U"x@y.com.au", {{0, 10}}},
                              {U"x@y.c0m", {}},
                              {U"x@y.comm1", {{0, 8}}},
                              {U"x@-.ab", {{0, 6}}},
                              {U"@a.bc", {}},
                              {U"a@@b.cc", {}},
                              {U"a_b@c_d.ef", {}},
                              {U"081234567890@mail.com", {{0, 21}}},
                              {U"a@b.cc.d", {{0, 6}}},
                              {U"a@b..cc", {{0, 7}}},
                              {U"\u00e9@b.cc", {}},
                              {U"a\u00e9@b.cc", {}},
                              {U"x@y.cc@z.dd", {{0, 6}}},
                              {U"x@y.c@z.dd", {{2, 10}}},
                              {U"a b@c.dd", {{2, 8}}},
                          });
}

TEST(PiiPatterns, LongRunsAreScannedOnce) {
    // The inputs on which a backtracking matcher takes quadratic time.
    const std::string names(50000, 'a');
    EXPECT_TRUE(spans_ascii(Pattern::email, names).empty());
    EXPECT_TRUE(spans_ascii(Pattern::email, names + "@").empty());
    EXPECT_EQ(spans_ascii(Pattern::email, names + "@b.cc"), (std::vector<Span>{{0, 50005}}));
    const std::string domain = "a@" + std::string(50000, 'b');
    EXPECT_TRUE(spans_ascii(Pattern::email, domain).empty());
    const std::string digits(50000, '1');
    // Only the last sixteen digits of the run can match.
    EXPECT_EQ(spans_ascii(Pattern::ktp, digits), (std::vector<Span>{{49984, 50000}}));
    EXPECT_TRUE(spans_ascii(Pattern::phone_unbroken, "0" + digits).empty());
}

TEST(PiiPatterns, MaskedForms) {
    EXPECT_EQ(masked_form(std::string_view("3201013112900001"), ktp_mask), "32******01");
    EXPECT_EQ(masked_form(std::string_view("01.234.567.8-901.234"), npwp_mask), "01.***.***.34");
    EXPECT_EQ(masked_form(std::string_view("+62 812-3456-7890"), phone_mask), "+62 ******7890");
    EXPECT_EQ(masked_form(std::u32string_view(U"\u0663\u0662\u0660\u0661\u0660\u0661\u0669\u066931\u0669\u0660"
                                              U"\u0660\u0660\u0660\u0661"),
                          ktp_mask),
              U"\u0663\u0662******\u0660\u0661");
    EXPECT_EQ(masked_form(std::string_view("ab"), email_mask), "ab******ab");
}

TEST(PiiPatterns, ReplaceIsNonOverlappingFromTheLeft) {
    std::string out = "unchanged";
    EXPECT_FALSE(replace_all(std::string_view("abc"), std::string_view("x"), std::string_view("y"), out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(replace_all(std::string_view("aaaa"), std::string_view("aa"), std::string_view("b"), out));
    EXPECT_EQ(out, "bb");
    EXPECT_TRUE(replace_all(std::string_view("aaa"), std::string_view("aa"), std::string_view("b"), out));
    EXPECT_EQ(out, "ba");
}

TEST(PiiPatterns, MaskReplacesEveryOccurrenceOfEachFoundText) {
    std::string out;
    // The second number is not found (a letter before it) but is the same text.
    EXPECT_TRUE(mask(Pattern::phone_unbroken, phone_mask, std::string_view("081234567890 x081234567890"), classes,
                     out));
    EXPECT_EQ(out, "0812******7890 x0812******7890");
    // A found text inside a later one masks it there; the later one is gone.
    EXPECT_TRUE(mask(Pattern::phone_unbroken, phone_mask, std::string_view("0812345678 62810812345678"), classes,
                     out));
    EXPECT_EQ(out, "0812******5678 62810812******5678");
    out = "unchanged";
    EXPECT_FALSE(mask(Pattern::email, email_mask, std::string_view("no address here"), classes, out));
    EXPECT_EQ(out, "unchanged");
}
