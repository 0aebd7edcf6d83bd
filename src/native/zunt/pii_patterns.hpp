// Finding and masking personal data in log text.
//
// Five fixed regular expressions (an identity-card number, a tax number, two
// phone-number forms and an e-mail address) are matched here by direct scans
// that give exactly the matches of the host's `re` for these patterns as str
// patterns without flags: leftmost match first, greedy repetition with
// backtracking, alternatives in the order written, matches found left to
// right without overlapping (`findall`). Where the expressions backtrack, the
// scans decide the outcome without retrying (each choice point of these five
// patterns has at most one alternative that can succeed, or a largest one
// that is found by one backward walk), so every scan is linear in the text.
//
// \d, \w, \s and \b follow Unicode rules: \d is a decimal digit of any
// script, \w a letter, digit or numeric character or "_", \s any white space.
// ASCII is classified here; other code points are classified by a lookup the
// caller supplies (the host's own Unicode database).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace zunt::pii {

// Classes of one code point, as the patterns' \d, \w and \s see it.
enum CharClass : std::uint8_t {
    decimal = 1,  // \d
    word = 2,     // \w
    space = 4,    // \s
};

namespace detail {

// The code point of a code unit (char is signed on some platforms).
template <class Char>
constexpr char32_t cp(Char c) {
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<Char>>(c));
}

constexpr std::array<std::uint8_t, 128> make_ascii_classes() {
    std::array<std::uint8_t, 128> t{};
    for (char32_t c = '0'; c <= '9'; ++c) t[c] = decimal | word;
    for (char32_t c = 'a'; c <= 'z'; ++c) t[c] = word;
    for (char32_t c = 'A'; c <= 'Z'; ++c) t[c] = word;
    t['_'] = word;
    // str.isspace() of ASCII: \t \n \v \f \r, the separators 0x1c-0x1f, space.
    for (char32_t c : {U'\t', U'\n', U'\v', U'\f', U'\r', U'\x1c', U'\x1d', U'\x1e', U'\x1f', U' '}) t[c] = space;
    return t;
}

}  // namespace detail

// The classes of the ASCII code points.
inline constexpr std::array<std::uint8_t, 128> ascii_classes = detail::make_ascii_classes();

class CharClasses {
public:
    using Lookup = std::uint8_t (*)(char32_t);

    // `non_ascii` classifies code points from U+0080 on; without it they
    // belong to no class.
    explicit CharClasses(Lookup non_ascii = nullptr) : non_ascii_(non_ascii) {}

    std::uint8_t of(char32_t c) const {
        if (c < 128) return ascii_classes[c];
        return non_ascii_ != nullptr ? non_ascii_(c) : 0;
    }
    bool is(char32_t c, CharClass k) const { return (of(c) & k) != 0; }

private:
    Lookup non_ascii_;
};

// The patterns, in the order in which the masking applies them. Each has
// one row in the pattern table below; see "Changing a pattern" in
// pii_masking.md for everything else that follows a pattern.
enum class Pattern : std::uint8_t { ktp, npwp, phone_unbroken, phone_grouped, email };

inline constexpr Pattern all_patterns[] = {Pattern::ktp, Pattern::npwp, Pattern::phone_unbroken,
                                           Pattern::phone_grouped, Pattern::email};

// A match: code-unit offsets [begin, end) into the scanned text.
struct Span {
    std::size_t begin;
    std::size_t end;
    bool operator==(const Span&) const = default;
};

// All non-overlapping matches of `p`, left to right. `Char` is char for
// pure-ASCII text (one code point per byte) or char32_t for code points.
template <class Char>
std::vector<Span> find_all(Pattern p, std::basic_string_view<Char> text, const CharClasses& classes);

// How a found text is masked: its first `head` and last `tail` code points
// around a fixed middle.
struct MaskForm {
    std::size_t head;
    std::string_view middle;
    std::size_t tail;
};

inline constexpr MaskForm ktp_mask{2, "******", 2};
inline constexpr MaskForm npwp_mask{2, ".***.***.", 2};
inline constexpr MaskForm phone_mask{4, "******", 4};
inline constexpr MaskForm email_mask{2, "******", 2};

// A set of ASCII characters.
class AsciiSet {
public:
    constexpr AsciiSet() = default;

    // The ASCII characters for which `pred` holds.
    template <class Pred>
    static constexpr AsciiSet where(Pred pred) {
        AsciiSet s;
        for (char32_t c = 0; c < 128; ++c) {
            if (pred(c)) s.bits_[c / 64] |= std::uint64_t{1} << (c % 64);
        }
        return s;
    }

    constexpr bool has(char32_t c) const { return c < 128 && (bits_[c / 64] >> (c % 64) & 1) != 0; }

private:
    std::uint64_t bits_[2] = {0, 0};
};

// Everything the scanners, the masking and the handler know of one pattern.
//
// Every found text has at least one anchor character; the first one splits it
// into its left part (before it, no anchor among them) and its right part
// (from it on). The part sets hold the ASCII characters that a found text can
// have in its left part and in its right part past the anchor; characters
// beyond ASCII count as allowed there. The masking rests on these sets, and
// checks each found text against them.
struct PatternRow {
    Pattern pattern;
    std::string_view source;  // exactly as `re.compile` is given it
    std::vector<Span> (*scan_bytes)(std::string_view, const CharClasses&);
    std::vector<Span> (*scan_points)(std::u32string_view, const CharClasses&);
    AsciiSet anchors;             // the ASCII anchors
    std::uint8_t anchor_classes;  // beyond ASCII, the members of these classes are anchors
    AsciiSet left;
    AsciiSet right;
    MaskForm mask;

    bool anchors_beyond_ascii() const { return anchor_classes != 0; }
    bool is_anchor(char32_t c, const CharClasses& classes) const {
        return c < 128 ? anchors.has(c) : (classes.of(c) & anchor_classes) != 0;
    }
};

// The row of `p`.
const PatternRow& pattern_row(Pattern p);

// The source text of a pattern, exactly as `re.compile` is given it.
inline std::string_view pattern_source(Pattern p) { return pattern_row(p).source; }

// The mask a found text gets: head, middle, tail (Python's t[:h] + m + t[-k:]).
template <class Char>
std::basic_string<Char> masked_form(std::basic_string_view<Char> found, const MaskForm& form);

// The first occurrence of a non-empty `needle` in `hay` at or after `from`,
// or npos; in time linear in the text for bytes, as the host's str.find for
// code points.
std::size_t find_text(std::string_view hay, std::string_view needle, std::size_t from);
std::size_t find_text(std::u32string_view hay, std::u32string_view needle, std::size_t from);

// text.replace(old, new): every non-overlapping occurrence of a non-empty
// `old`, scanning from the left. Returns false, leaving `out` alone, when
// there is none.
template <class Char>
bool replace_all(std::basic_string_view<Char> text, std::basic_string_view<Char> old_text,
                 std::basic_string_view<Char> new_text, std::basic_string<Char>& out);

// One masking step: the found texts of `p` in `text` (all found before any
// is replaced), then, in the order found, every occurrence of each non-empty
// found text in the current text replaced by its masked form (an empty one
// masks nothing). Returns false, leaving `out` alone, when the pattern finds
// no non-empty text.
//
// The result is computed in one pass from the occurrences of the found texts
// in `text` (pii_masking.cpp, pii_masking.md), in time and memory linear in
// its length. Where that does not apply (a form whose masks could make new
// occurrences, a found text outside its pattern's sets, or more occurrences
// than the memory budget holds, as on lines of e-mail addresses nested in one
// another) the replacements are made one after the other, in memory linear in
// the text.
template <class Char>
bool mask(Pattern p, const MaskForm& form, std::basic_string_view<Char> text, const CharClasses& classes,
          std::basic_string<Char>& out);

}  // namespace zunt::pii
