#include "zunt/pii_masking.hpp"
#include "zunt/pii_patterns.hpp"

#include <gtest/gtest.h>

#include <random>

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

// The expected spans below are those of the host's re.finditer, the expected
// masked texts those of its re.findall and str.replace.
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
    EXPECT_FALSE(replace_all(std::string_view("abc"), std::string_view(""), std::string_view("y"), out));
    // Against a plain search, on texts and needles over two or three letters
    // (periodic needles, needles that end in a letter they repeat, windows
    // whose next letter is or is not in the needle).
    std::mt19937 random(3);
    auto draw = [&](std::size_t letters, std::size_t size) {
        std::u32string t;
        for (std::size_t i = 0; i < size; ++i) t += static_cast<char32_t>(U'a' + random() % letters);
        return t;
    };
    for (int i = 0; i < 20000; ++i) {
        const std::u32string text = draw(2 + i % 2, random() % 40);
        const std::u32string old_text = draw(2 + i % 2, 1 + random() % 6);
        std::u32string expected;
        std::size_t copied = 0;
        for (std::size_t at = text.find(old_text); at != std::u32string::npos; at = text.find(old_text, copied)) {
            expected += text.substr(copied, at - copied) + U"#";
            copied = at + old_text.size();
        }
        expected += text.substr(copied);
        std::u32string wide = U"unchanged";
        EXPECT_EQ(replace_all(std::u32string_view(text), std::u32string_view(old_text), std::u32string_view(U"#"), wide),
                  copied != 0);
        if (copied != 0) {
            EXPECT_EQ(wide, expected);
        }
        const std::string bytes(text.begin(), text.end()), old_bytes(old_text.begin(), old_text.end());
        std::string narrow = "unchanged";
        if (replace_all(std::string_view(bytes), std::string_view(old_bytes), std::string_view("#"), narrow)) {
            EXPECT_EQ(std::u32string(narrow.begin(), narrow.end()), expected);
        } else {
            EXPECT_EQ(copied, 0u);
        }
    }
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

namespace {

// The masking as described: every found text in turn, each occurrence of it
// in the current text replaced. The text itself when nothing is found.
template <class Char>
std::basic_string<Char> step_by_step(Pattern p, const MaskForm& form, std::basic_string_view<Char> text) {
    std::basic_string<Char> current(text);
    std::basic_string<Char> next;
    for (const Span& s : find_all(p, text, classes)) {
        const std::basic_string_view<Char> found = text.substr(s.begin, s.end - s.begin);
        const std::basic_string<Char> masked = masked_form(found, form);
        if (replace_all(std::basic_string_view<Char>(current), found, std::basic_string_view<Char>(masked), next)) {
            current.swap(next);
        }
    }
    return current;
}

template <class Char>
std::basic_string<Char> masked(Pattern p, const MaskForm& form, std::basic_string_view<Char> text) {
    std::basic_string<Char> out(text);
    mask(p, form, text, classes, out);
    return out;
}

struct MaskCase {
    Pattern pattern;
    std::string_view text;
    std::string_view expected;
};

const MaskForm& form_of(Pattern p) { return pattern_row(p).mask; }

}  // namespace

TEST(PiiPatterns, MaskingTakesTheOccurrencesThatReplacingTakes) {
    const std::vector<MaskCase> cases = {
        // Found twice: the second step masks the occurrence that starts in
        // the first one's kept tail "ab", which the first step skipped.
        {Pattern::email, "ab@cd.ab@cd.ab ab@cd.ab", "ab******ab******ab ab******ab"},
        // Found once: the skipped occurrence stays.
        {Pattern::email, "ab@cd.ab@cd.ab", "ab******ab@cd.ab"},
        // A later found text whose occurrence starts in an earlier mask's tail.
        {Pattern::email, "x@y.cc@z.dd cc@z.dd", "x@******cc******dd cc******dd"},
        // A later found text inside an earlier one is gone with its mask ...
        {Pattern::email, "a.bc@de.fg bc@de.fg", "a.******fg bc******fg"},
        // ... and an earlier one inside a later one masks it there.
        {Pattern::email, "bc@de.fg a.bc@de.fg", "bc******fg a.bc******fg"},
        // Occurrences the pattern does not find (no boundary, a word
        // character before) are masked with the found ones.
        {Pattern::ktp, "32010199319000013201019931900001", "32******0132******01"},
        {Pattern::npwp, "01.234.567.8-901.234 01.234.567.8-901.234x", "01.***.***.34 01.***.***.34x"},
        {Pattern::phone_unbroken, "081234567890 x081234567890", "0812******7890 x0812******7890"},
        {Pattern::phone_grouped, "+62 812-3456-7890 _+62 812-3456-7890", "+62 ******7890 _+62 ******7890"},
        // The tax number's mask ends in a '.' that is not the number's own.
        {Pattern::npwp, "01.234.567.8-901.234.01.234.567.8-901.234", "01.***.***.34.01.***.***.34"},
        // Adjacent (the first domain takes the next address's first letter)
        // and repeated.
        {Pattern::email, "a@b.cca@b.cc a@b.cc", "a@******ca@******cc a@******cc"},
        {Pattern::phone_unbroken, "0812345678 62810812345678 0812345678", "0812******5678 62810812******5678 0812******5678"},
    };
    for (const MaskCase& c : cases) {
        const std::string_view text = c.text;
        EXPECT_EQ(masked(c.pattern, form_of(c.pattern), text), c.expected) << c.text;
        EXPECT_EQ(step_by_step(c.pattern, form_of(c.pattern), text), c.expected) << c.text;
        const std::u32string wide = widen(c.text);
        EXPECT_EQ(masked(c.pattern, form_of(c.pattern), std::u32string_view(wide)), widen(c.expected)) << c.text;
    }
}

namespace {

// Dense lines: few distinct pieces, drawn again and again, often with
// nothing between them, so that found texts repeat, overlap, sit inside one
// another and next to digit runs.
class DenseLines {
public:
    explicit DenseLines(unsigned seed) : random_(seed) {}

    std::u32string next(bool wide) {
        static const std::vector<std::u32string> fragments = {
            U"ab@cd.ab", U"x@y.cc", U"cc@z.dd", U"a@b.cc", U"a.b@c.de", U"cd.ab", U"@", U"ab", U".", U"-",
            U"081234567890", U"0812345678", U"62", U"+62", U"6281234567", U"08", U"1", U"00", U"9",
            U"3201019931900001", U"320101993190000", U"01.234.567.8-901.234", U"01.234.567.8-",
            U"+62 812-3456-7890", U"0812 3456 789", U"812-3456", U" ", U"x", U"_", U"*", U"mail.com",
        };
        static const std::vector<std::u32string> wide_fragments = {U"\u0661\u0662", U"\u00a0", U"\u00e9",
                                                                   U"0812\u00a03456\u20037890"};
        std::vector<std::u32string> pool;
        const std::size_t pool_size = 2 + random_() % 6;
        for (std::size_t i = 0; i < pool_size; ++i) {
            const bool take_wide = wide && random_() % 4 == 0;
            const auto& from = take_wide ? wide_fragments : fragments;
            pool.push_back(from[random_() % from.size()]);
        }
        std::u32string line;
        const std::size_t pieces = 1 + random_() % 60;
        for (std::size_t i = 0; i < pieces; ++i) {
            line += pool[random_() % pool.size()];
            if (random_() % 3 == 0) line += U' ';
        }
        return line;
    }

private:
    std::mt19937 random_;
};

}  // namespace

TEST(PiiPatterns, MaskingEqualsReplacingOnDenseLines) {
    // The built-in forms, and others: with no head or tail, borders kept or
    // not, and forms the one-pass masking does not take (no '*'; a border
    // that found texts start with), which are replaced step by step.
    const std::vector<MaskForm> other_forms = {
        {0, "*", 0}, {1, "**", 1}, {2, "x*", 3}, {2, "*.", 2}, {3, "*-*", 1}, {2, "--", 2}, {2, "*a", 2}, {1, "0*", 1},
        {4, "*", 4},
    };
    DenseLines lines(17);
    for (int i = 0; i < 4000; ++i) {
        const bool wide = i % 2 == 1;
        const std::u32string line = lines.next(wide);
        for (Pattern p : all_patterns) {
            std::vector<const MaskForm*> forms = {&form_of(p)};
            if (i % 8 < 2) forms.push_back(&other_forms[(i / 8) % other_forms.size()]);
            for (const MaskForm* form : forms) {
                const std::u32string_view text(line);
                ASSERT_EQ(masked(p, *form, text), step_by_step(p, *form, text)) << "pattern " << int(p) << " line " << i;
                if (!wide) {
                    const std::string bytes(line.begin(), line.end());
                    ASSERT_EQ(masked(p, *form, std::string_view(bytes)), step_by_step(p, *form, std::string_view(bytes)))
                        << "pattern " << int(p) << " line " << i;
                }
            }
        }
    }
}

TEST(PiiPatterns, LinesWithManyMatchesAreMaskedInOnePass) {
    // Replacing every found text over the whole line takes minutes on these.
    std::string distinct, distinct_masked, repeated, repeated_masked, numbers, numbers_masked;
    for (int i = 0; i < 100000; ++i) {
        const std::string n = std::to_string(i);
        distinct += "user" + n + "@mail" + n + ".com ";
        distinct_masked += "us******om ";
        repeated += "john.doe@example.com ";
        repeated_masked += "jo******om ";
        numbers += "0812" + std::string(8 - n.size(), '0') + n + " ";
        numbers_masked += "0812******" + (std::string(8 - n.size(), '0') + n).substr(4) + " ";
    }
    EXPECT_EQ(masked(Pattern::email, email_mask, std::string_view(distinct)), distinct_masked);
    EXPECT_EQ(masked(Pattern::email, email_mask, std::string_view(repeated)), repeated_masked);
    EXPECT_EQ(masked(Pattern::phone_unbroken, phone_mask, std::string_view(numbers)), numbers_masked);
    // A million digits: the last sixteen are found, and occur everywhere.
    const std::string digits(1000000, '1');
    const std::string expected = "11******11" + std::string(1000000 % 16, '1');
    // Every occurrence from the left is masked, leaving what is left over.
    std::string runs;
    for (std::size_t i = 0; i < 1000000 / 16; ++i) runs += "11******11";
    EXPECT_EQ(masked(Pattern::ktp, ktp_mask, std::string_view(digits)), runs);
}

TEST(PiiPatterns, FormsWhoseMasksCanMakeOccurrencesAreReplacedStepByStep) {
    // A mask can make a new occurrence of a later found text when its
    // middle does not start with '*' and a found text ends with what it
    // starts with, or the other way round at its end. Here the 'b' after
    // the head of "ab@cd.ef"'s mask completes "x@y.abb" in "x@y.ab@cd.ef",
    // and the 'a' before the tail of "xy@cd.ab"'s mask starts "aab@cd.ef".
    // Or when a found text fits between two of its stars.
    struct FormCase {
        MaskForm form;
        std::string_view text;
        std::string_view expected;
    };
    const std::vector<FormCase> cases = {
        {{2, "b*", 2}, "ab@cd.ef x@y.abb x@y.ab@cd.ef", "abb*ef x@b*bb x@b*bb*ef"},
        {{2, "*a", 2}, "xy@cd.ab@cd.ef aab@cd.ef", "xy*aa*aef aa*aef"},
        // A found text between the middle's stars.
        {{1, "*x@y.cc*", 1}, "ab@cd.ef x@y.cc", "a*x*x@y.cc*c*f x*x@y.cc*c"},
        // Head and tail overlap on the shortest addresses.
        {{4, "*", 4}, "a@b.cc a@b.cc.dd", "a@b.*b.cc a@b.*b.cc.dd"},
    };
    for (const FormCase& c : cases) {
        EXPECT_EQ(step_by_step(Pattern::email, c.form, c.text), c.expected) << c.text;
        EXPECT_EQ(masked(Pattern::email, c.form, c.text), c.expected) << c.text;
    }
}

namespace {

// Hashes for the index keys that make texts meet: all keys equal (one slot,
// one tag), or equal tags in different slots.
std::uint64_t one_key(std::uint64_t) { return 0; }
std::uint64_t one_tag(std::uint64_t x) { return x & 0xffffffffu; }

template <class Char>
MaskRoute route_of(Pattern p, std::basic_string_view<Char> text, const MaskingTuning& tuning, const PatternRow& row,
                   std::basic_string<Char>& out) {
    return mask_spans(row, row.mask, text, classes, find_all(p, text, classes), out, tuning);
}

}  // namespace

TEST(PiiMasking, ExactWhenEveryKeyCollides) {
    // Left parts of equal length sharing a right part, and right parts of
    // equal length sharing a left part, looked up elsewhere in the line:
    // every look-up meets every text, and only the comparison of the texts
    // tells them apart.
    const std::vector<std::pair<Pattern, std::string_view>> lines = {
        {Pattern::email, "ab@x.cc cd@x.cc ef@x.cc _cd@x.cc.x ab@x.ccc zef@x.cc"},
        {Pattern::email, "ab@x.cc ab@y.cc ab@z.cc ab@y.cc.d ab@z.ccc ab@w.cc"},
        {Pattern::email, "ab@cd.ab@cd.ab ab@cd.ab x@y.cc@z.dd cc@z.dd"},
        {Pattern::npwp, "01.234.567.8-901.234 01.234.567.8-901.235 11.234.567.8-901.234 01.234.567.8-901.2345"},
        {Pattern::phone_grouped, "+62 812-3456-7890 +62 812-3456-7891 0812 3456 7890 _+62 812-3456-7891"},
        {Pattern::phone_unbroken, "081234567890 081234567891 x081234567890 62810812345678 0812345678"},
        {Pattern::ktp, "3201019931900001 3201019931900002 32010199319000013201019931900002 x3201019931900001"},
    };
    for (const KeyHash hash : {one_key, one_tag}) {
        const MaskingTuning tuning{.key_hash = hash};
        for (const auto& [p, line] : lines) {
            std::string out;
            EXPECT_EQ(route_of(p, line, tuning, pattern_row(p), out), MaskRoute::one_pass) << line;
            EXPECT_EQ(out, step_by_step(p, form_of(p), line)) << line;
        }
        DenseLines dense(29);
        for (int i = 0; i < 600; ++i) {
            const std::u32string line = dense.next(i % 2 == 1);
            for (Pattern p : all_patterns) {
                std::u32string out = line;
                route_of(p, std::u32string_view(line), tuning, pattern_row(p), out);
                ASSERT_EQ(out, step_by_step(p, form_of(p), std::u32string_view(line))) << "pattern " << int(p) << " line " << i;
            }
        }
    }
}

TEST(PiiMasking, PastTheMemoryBudgetEachFoundTextIsLookedForAnew) {
    // Nested addresses: local parts suffixes and domains prefixes of one
    // another, each also found on its own; the occurrences grow faster than
    // the line.
    std::string nested;
    for (int i = 1; i <= 40; ++i) {
        for (int r = 1; r <= 40; ++r) nested += std::string(static_cast<std::size_t>((i * 7 + r * 3) % 40 + 1), 'a') + "@b" + [&] {
            std::string d;
            for (int k = 0; k < (r * 11 + i) % 40 + 1; ++k) d += ".cc";
            return d;
        }() + " ";
    }
    const std::string expected = step_by_step(Pattern::email, email_mask, std::string_view(nested));
    std::string out;
    EXPECT_EQ(route_of(Pattern::email, std::string_view(nested), MaskingTuning{}, pattern_row(Pattern::email), out),
              MaskRoute::searched);
    EXPECT_EQ(out, expected);
    // Unbounded, the same line is masked in one pass, with the same text.
    const MaskingTuning unbounded{.bytes_per_unit = 1 << 20};
    EXPECT_EQ(route_of(Pattern::email, std::string_view(nested), unbounded, pattern_row(Pattern::email), out),
              MaskRoute::one_pass);
    EXPECT_EQ(out, expected);
    // No budget at all: every found text of every line is looked for anew,
    // at the anchors or by a search of the line, with the same results.
    const MaskingTuning none{.bytes_per_unit = 0, .bytes_fixed = 0};
    DenseLines dense(31);
    for (int i = 0; i < 300; ++i) {
        const std::u32string line = dense.next(i % 2 == 1);
        for (Pattern p : all_patterns) {
            std::u32string out32 = line;
            const auto spans = find_all(p, std::u32string_view(line), classes);
            if (spans.empty()) continue;
            EXPECT_EQ(route_of(p, std::u32string_view(line), none, pattern_row(p), out32), MaskRoute::searched);
            ASSERT_EQ(out32, step_by_step(p, form_of(p), std::u32string_view(line))) << "pattern " << int(p) << " line " << i;
        }
    }
    // Ordinary lines stay in one pass under the default budget.
    std::string ordinary;
    for (int i = 0; i < 2000; ++i) ordinary += "to user" + std::to_string(i) + "@mail.com hp 0812" + std::to_string(10000000 + i) + " ";
    EXPECT_EQ(route_of(Pattern::email, std::string_view(ordinary), MaskingTuning{}, pattern_row(Pattern::email), out),
              MaskRoute::one_pass);
    EXPECT_EQ(route_of(Pattern::phone_unbroken, std::string_view(ordinary), MaskingTuning{},
                       pattern_row(Pattern::phone_unbroken), out),
              MaskRoute::one_pass);
}

TEST(PiiMasking, FoundTextsOutsideTheirSetsAreReplacedStepByStep) {
    // Rows whose sets leave out a character that the found texts have: the
    // walk would stop at it and leave occurrences, the found text itself
    // included, unmasked.
    PatternRow no_x_in_domains = pattern_row(Pattern::email);
    no_x_in_domains.right = AsciiSet::where([](char32_t c) { return c != 'x' && pattern_row(Pattern::email).right.has(c); });
    PatternRow no_dot_in_local_parts = pattern_row(Pattern::email);
    no_dot_in_local_parts.left = AsciiSet::where([](char32_t c) { return c != '.' && c != '@' && pattern_row(Pattern::email).left.has(c); });
    PatternRow no_anchor = pattern_row(Pattern::email);
    no_anchor.anchors = AsciiSet();
    PatternRow no_dash_after_anchor = pattern_row(Pattern::phone_grouped);
    no_dash_after_anchor.right = AsciiSet::where([](char32_t c) { return c >= '0' && c <= '9'; });
    struct Case {
        const PatternRow* row;
        std::string_view line;
    };
    const std::vector<Case> cases = {
        {&no_x_in_domains, "ab@xy.cc zab@xy.cc ab@xy.cc.dd"},
        {&no_dot_in_local_parts, "a.b@c.de za.b@c.de a.b@c.de"},
        {&no_anchor, "ab@cd.ef ab@cd.ef.gh"},
        {&no_dash_after_anchor, "+62 812-3456-7890 _+62 812-3456-7890"},
    };
    for (const Case& c : cases) {
        const Pattern p = c.row->pattern;
        std::string out;
        EXPECT_EQ(route_of(p, c.line, MaskingTuning{}, *c.row, out), MaskRoute::step_by_step) << c.line;
        EXPECT_EQ(out, step_by_step(p, form_of(p), c.line)) << c.line;
        EXPECT_EQ(route_of(p, c.line, MaskingTuning{}, pattern_row(p), out), MaskRoute::one_pass) << c.line;
    }
}

TEST(PiiMasking, EmptyFoundTextsMaskNothing) {
    // As a scan that matches empty text gives them: between and around the
    // found texts. Replacing them would put a mask between every two characters.
    const std::string_view line = "ab@cd.ef x ab@cd.ef";
    const std::vector<Span> spans = {{0, 0}, {0, 8}, {8, 8}, {9, 9}, {10, 10}, {19, 19}};
    for (const MaskingTuning& tuning : {MaskingTuning{}, MaskingTuning{.bytes_per_unit = 0, .bytes_fixed = 0}}) {
        std::string out;
        mask_spans(pattern_row(Pattern::email), email_mask, line, classes, spans, out, tuning);
        EXPECT_EQ(out, "ab******ef x ab******ef");
    }
}
