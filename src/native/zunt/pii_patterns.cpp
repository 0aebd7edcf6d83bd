#include "zunt/pii_patterns.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

namespace zunt::pii {

namespace {

using detail::cp;

constexpr bool ascii_digit(char32_t c) { return c >= '0' && c <= '9'; }
constexpr bool ascii_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// [a-zA-Z0-9._%+-]
constexpr bool local_char(char32_t c) {
    return ascii_letter(c) || ascii_digit(c) || c == '.' || c == '_' || c == '%' || c == '+' || c == '-';
}

// [a-zA-Z0-9.-]
constexpr bool domain_char(char32_t c) { return ascii_letter(c) || ascii_digit(c) || c == '.' || c == '-'; }

// ([04][1-9]|[1256][0-9]|[37][01]): the day of birth, plus 40 for women.
constexpr bool ktp_day(char32_t a, char32_t b) {
    switch (a) {
        case '0':
        case '4':
            return b >= '1' && b <= '9';
        case '1':
        case '2':
        case '5':
        case '6':
            return ascii_digit(b);
        case '3':
        case '7':
            return b == '0' || b == '1';
        default:
            return false;
    }
}

// (?:8[1-9]|2[1-9]|3[1-468]|5[1-9]|7[0-8]|9[0-8]). The first digit picks
// the alternative, so at most one can match.
constexpr bool area_code(char32_t a, char32_t b) {
    switch (a) {
        case '8':
        case '2':
        case '5':
            return b >= '1' && b <= '9';
        case '3':
            return b == '1' || b == '2' || b == '3' || b == '4' || b == '6' || b == '8';
        case '7':
        case '9':
            return b >= '0' && b <= '8';
        default:
            return false;
    }
}

template <class Char>
class Scanner {
public:
    Scanner(std::basic_string_view<Char> text, const CharClasses& classes) : t_(text), n_(text.size()), cls_(classes) {}

    // The scans, one per pattern; each leaves its matches for take().
    void phone_unbroken() { phone(false); }
    void phone_grouped() { phone(true); }

    std::vector<Span> take() { return std::move(found_); }

    char32_t at(std::size_t i) const { return cp(t_[i]); }
    bool is(std::size_t i, CharClass k) const { return cls_.is(at(i), k); }

    // \b after a word character at i - 1: the end of the text or a non-word character.
    bool word_ends_at(std::size_t i) const { return i == n_ || !is(i, word); }

    // Length of the run of characters from i that satisfy `pred`, counted up to `cap`.
    template <class Pred>
    std::size_t run_length(std::size_t i, std::size_t cap, Pred pred) const {
        std::size_t k = 0;
        while (i + k < n_ && k < cap && pred(at(i + k))) ++k;
        return k;
    }

    std::size_t decimals(std::size_t i, std::size_t cap) const {
        return run_length(i, cap, [this](char32_t c) { return cls_.is(c, decimal); });
    }

    // Sixteen \d whose ninth and tenth are ASCII and read a valid day, not
    // followed by an ASCII letter or digit. Fixed length: a start either
    // matches or not. Walks the text once, keeping the run of \d that began
    // at or after the last match; the start that becomes testable at i is
    // i - 15. While the run is shorter than that, the character where it
    // would first be long enough is read first: when it is no \d, no start
    // before it can match, and the walk goes on after it.
    void ktp() {
        std::size_t run_begin = 0;
        std::size_t i = 0;
        while (i < n_) {
            if (i - run_begin < 15) {
                const std::size_t first_testable = run_begin + 15;
                if (first_testable >= n_) break;
                if (!is(first_testable, decimal)) {
                    run_begin = i = first_testable + 1;
                    continue;
                }
            }
            if (!is(i, decimal)) {
                run_begin = ++i;
                continue;
            }
            // Inside a run the next character is a digit: tested first, it
            // settles most starts without reading the day.
            if (i - run_begin >= 15 && !(i + 1 < n_ && (ascii_letter(at(i + 1)) || ascii_digit(at(i + 1)))) &&
                ktp_day(at(i - 7), at(i - 6))) {
                found_.push_back({i - 15, i + 1});
                run_begin = i + 1;
            }
            ++i;
        }
    }

    // dd.ddd.ddd.d-ddd.ddd then \b (the last character is a digit, so the
    // boundary is the end of the text or a non-word character). Every match
    // has its one "-" at offset 12, so only the starts 12 before a "-" are
    // tried.
    void npwp() {
        static constexpr std::string_view layout = "dd.ddd.ddd.d-ddd.ddd";
        static constexpr std::size_t dash = 12;
        std::size_t s = 0;
        while (s + layout.size() <= n_) {
            const std::size_t next_dash = t_.find(static_cast<Char>('-'), s + dash);
            if (next_dash == std::basic_string_view<Char>::npos) break;
            s = next_dash - dash;
            if (s + layout.size() > n_) break;
            bool ok = true;
            for (std::size_t k = 0; k < layout.size() && ok; ++k) {
                ok = layout[k] == 'd' ? is(s + k, decimal) : at(s + k) == cp(layout[k]);
            }
            if (ok && word_ends_at(s + layout.size())) {
                found_.push_back({s, s + layout.size()});
                s += layout.size();
            } else {
                ++s;
            }
        }
    }

    // (?:\+62|0|62): the first character picks the alternative. Returns the
    // length matched at i, 0 for none.
    std::size_t country_prefix(std::size_t i) const {
        const char32_t c = at(i);
        if (c == '+') return i + 2 < n_ && at(i + 1) == '6' && at(i + 2) == '2' ? 3 : 0;
        if (c == '0') return 1;
        if (c == '6') return i + 1 < n_ && at(i + 1) == '2' ? 2 : 0;
        return 0;
    }

    // The end of a phone number starting at s, or 0 when none starts there.
    //
    // Unbroken: [0-9]{7,10}\b. Greedy: it takes the whole run of ASCII
    // digits (up to 10); giving digits back leaves a digit after the number,
    // never a boundary. So the run must be 7 to 10 digits long and end at a
    // boundary.
    //
    // Grouped: \s?, code, \d{0,2}[-\s], \d{3,4}[-\s], \d{3,4}\b. No \d is a
    // separator and no separator starts a code, so each step has one way to
    // succeed: the optional space is taken when present, and every digit
    // group is exactly its run of \d, which must have an allowed length and
    // be followed by a separator (the last one by a boundary).
    std::size_t phone_end(std::size_t s, bool grouped) const {
        if (s > 0 && is(s - 1, word)) return 0;  // (?<!\w), tested first: true all along a word
        const std::size_t prefix = country_prefix(s);
        if (prefix == 0) return 0;
        std::size_t p = s + prefix;
        if (grouped && p < n_ && is(p, space)) ++p;
        if (p + 1 >= n_ || !area_code(at(p), at(p + 1))) return 0;
        p += 2;
        if (!grouped) {
            const std::size_t m = run_length(p, 11, ascii_digit);
            if (m < 7 || m > 10 || !word_ends_at(p + m)) return 0;
            return p + m;
        }
        auto separator = [this](std::size_t i) { return i < n_ && (at(i) == '-' || is(i, space)); };
        const std::size_t extra = decimals(p, 3);
        if (extra > 2 || !separator(p + extra)) return 0;
        p += extra + 1;
        const std::size_t middle = decimals(p, 5);
        if (middle < 3 || middle > 4 || !separator(p + middle)) return 0;
        p += middle + 1;
        const std::size_t last = decimals(p, 5);
        if (last < 3 || last > 4 || !word_ends_at(p + last)) return 0;
        return p + last;
    }

    // A number starts with "+", "0" or "6" after no word character: the
    // walk carries whether the character before is one, and tries only
    // those starts.
    void phone(bool grouped) {
        std::size_t s = 0;
        bool after_word = false;
        while (s < n_) {
            const char32_t c = at(s);
            if (!after_word && (c == '+' || c == '0' || c == '6')) {
                const std::size_t end = phone_end(s, grouped);
                if (end != 0) {
                    found_.push_back({s, end});
                    s = end;
                    after_word = true;  // a number ends with a digit
                    continue;
                }
            }
            after_word = cls_.is(c, word);
            ++s;
        }
    }

    // [a-zA-Z0-9._%+-]+@[a-zA-Z0-9.-]+\.[a-zA-Z]{2,}
    //
    // The local part stops only at a non-local character, so from a start
    // it is the rest of its run and the run must end at "@"; every start
    // inside one run gives the same outcome. The domain part backtracks: the
    // greedy [a-zA-Z0-9.-]+ gives back characters until a "." followed by
    // two ASCII letters is found, so the match ends after the letters that
    // follow the last such "." of the domain run. When there is none, no
    // start in the run matches and the scan goes on after the "@".
    void email() {
        std::size_t pos = 0;
        while (pos < n_) {
            if (!local_char(at(pos))) {
                ++pos;
                continue;
            }
            const std::size_t s = pos;
            const std::size_t at_sign = s + run_length(s, n_, local_char);
            if (at_sign == n_ || at(at_sign) != '@') {
                pos = at_sign;
                continue;
            }
            const std::size_t domain_end = at_sign + 1 + run_length(at_sign + 1, n_, domain_char);
            std::size_t end = 0;
            for (std::size_t j = domain_end; j-- > at_sign + 2;) {
                if (at(j) == '.' && j + 2 < n_ && ascii_letter(at(j + 1)) && ascii_letter(at(j + 2))) {
                    end = j + 1 + run_length(j + 1, n_, ascii_letter);
                    break;
                }
            }
            if (end == 0) {
                pos = at_sign + 1;
                continue;
            }
            found_.push_back({s, end});
            pos = end;
        }
    }

private:
    std::basic_string_view<Char> t_;
    std::size_t n_;
    const CharClasses& cls_;
    std::vector<Span> found_;
};

}  // namespace

namespace {

// One scan run over a text.
template <class Char, void (Scanner<Char>::*Scan)()>
std::vector<Span> scan(std::basic_string_view<Char> text, const CharClasses& classes) {
    Scanner<Char> scanner(text, classes);
    (scanner.*Scan)();
    return scanner.take();
}

constexpr AsciiSet digits = AsciiSet::where(ascii_digit);
constexpr AsciiSet none;

// The pattern table, in Pattern order. Anchors: the characters of which each
// found text has one, the first splitting it into its left and right parts.
const PatternRow rows[] = {
    {
        .pattern = Pattern::ktp,
        .source = R"((\d{8}([04][1-9]|[1256][0-9]|[37][01])\d{2}\d{4})(?![a-zA-Z0-9]))",
        .scan_bytes = scan<char, &Scanner<char>::ktp>,
        .scan_points = scan<char32_t, &Scanner<char32_t>::ktp>,
        .anchors = digits,  // the first digit: every left part is empty
        .anchor_classes = decimal,
        .left = none,
        .right = digits,
        .mask = ktp_mask,
    },
    {
        .pattern = Pattern::npwp,
        .source = R"(([\d]{2}[.][\d]{3}[.][\d]{3}[.][\d][-][\d]{3}[.][\d]{3}\b))",
        .scan_bytes = scan<char, &Scanner<char>::npwp>,
        .scan_points = scan<char32_t, &Scanner<char32_t>::npwp>,
        .anchors = AsciiSet::where([](char32_t c) { return c == '-'; }),
        .anchor_classes = 0,
        .left = AsciiSet::where([](char32_t c) { return ascii_digit(c) || c == '.'; }),
        .right = AsciiSet::where([](char32_t c) { return ascii_digit(c) || c == '.'; }),
        .mask = npwp_mask,
    },
    {
        .pattern = Pattern::phone_unbroken,
        .source = R"((?<!\w)(?:\+62|0|62)(?:8[1-9]|2[1-9]|3[1-468]|5[1-9]|7[0-8]|9[0-8])[0-9]{7,10}\b)",
        .scan_bytes = scan<char, &Scanner<char>::phone_unbroken>,
        .scan_points = scan<char32_t, &Scanner<char32_t>::phone_unbroken>,
        .anchors = AsciiSet::where([](char32_t c) { return c == '+' || c == '0' || c == '6'; }),
        .anchor_classes = 0,
        .left = none,
        .right = digits,
        .mask = phone_mask,
    },
    {
        .pattern = Pattern::phone_grouped,
        .source = R"((?<!\w)(?:\+62|0|62)\s?(?:8[1-9]|2[1-9]|3[1-468]|5[1-9]|7[0-8]|9[0-8])\d{0,2}[-\s]\d{3,4}[-\s]\d{3,4}\b)",
        .scan_bytes = scan<char, &Scanner<char>::phone_grouped>,
        .scan_points = scan<char32_t, &Scanner<char32_t>::phone_grouped>,
        .anchors = AsciiSet::where([](char32_t c) { return c == '-' || (ascii_classes[c] & space) != 0; }),
        .anchor_classes = space,
        .left = AsciiSet::where([](char32_t c) { return ascii_digit(c) || c == '+'; }),
        .right = AsciiSet::where([](char32_t c) { return ascii_digit(c) || c == '-' || (ascii_classes[c] & space) != 0; }),
        .mask = phone_mask,
    },
    {
        .pattern = Pattern::email,
        .source = R"(([a-zA-Z0-9._%+-]+@[a-zA-Z0-9.-]+\.[a-zA-Z]{2,}))",
        .scan_bytes = scan<char, &Scanner<char>::email>,
        .scan_points = scan<char32_t, &Scanner<char32_t>::email>,
        .anchors = AsciiSet::where([](char32_t c) { return c == '@'; }),
        .anchor_classes = 0,
        .left = AsciiSet::where(local_char),
        .right = AsciiSet::where(domain_char),
        .mask = email_mask,
    },
};

}  // namespace

const PatternRow& pattern_row(Pattern p) {
    const PatternRow& row = rows[static_cast<std::size_t>(p)];
    return row;
}

template <class Char>
std::vector<Span> find_all(Pattern p, std::basic_string_view<Char> text, const CharClasses& classes) {
    if constexpr (std::is_same_v<Char, char>) {
        return pattern_row(p).scan_bytes(text, classes);
    } else {
        return pattern_row(p).scan_points(text, classes);
    }
}

template <class Char>
std::basic_string<Char> masked_form(std::basic_string_view<Char> found, const MaskForm& form) {
    const std::size_t n = found.size();
    const std::size_t head = form.head < n ? form.head : n;
    const std::size_t tail = form.tail < n ? form.tail : n;
    std::basic_string<Char> out;
    out.reserve(head + form.middle.size() + tail);
    out.append(found.substr(0, head));
    for (char c : form.middle) out.push_back(static_cast<Char>(c));
    out.append(found.substr(n - tail));
    return out;
}

// Bytes: the C library's memmem (linear in the text whatever it holds).
// Code points: the last code unit of each window is tested first and a
// window whose next code unit is in no place of the needle is skipped whole
// (as the host's own str.find does).
std::size_t find_text(std::string_view hay, std::string_view needle, std::size_t from) {
    if (from > hay.size()) return std::string_view::npos;
    const void* hit = memmem(hay.data() + from, hay.size() - from, needle.data(), needle.size());
    return hit == nullptr ? std::string_view::npos : static_cast<const char*>(hit) - hay.data();
}

std::size_t find_text(std::u32string_view hay, std::u32string_view needle, std::size_t from) {
    const std::size_t n = hay.size();
    const std::size_t m = needle.size();
    if (m == 1) return hay.find(needle[0], from);
    if (from > n || n - from < m) return std::u32string_view::npos;
    const std::size_t last = m - 1;
    std::uint64_t bloom = 0;
    std::size_t skip = last;  // from the needle's last character to its previous place in the needle
    for (std::size_t i = 0; i < last; ++i) {
        bloom |= std::uint64_t{1} << (needle[i] & 63);
        if (needle[i] == needle[last]) skip = last - i;
    }
    bloom |= std::uint64_t{1} << (needle[last] & 63);
    for (std::size_t i = from; i + m <= n;) {
        if (hay[i + last] == needle[last]) {
            if (hay.compare(i, last, needle, 0, last) == 0) return i;
            if (i + m < n && (bloom >> (hay[i + m] & 63) & 1) == 0) {
                i += m + 1;
            } else {
                i += skip;
            }
        } else if (i + m < n && (bloom >> (hay[i + m] & 63) & 1) == 0) {
            i += m + 1;
        } else {
            ++i;
        }
    }
    return std::u32string_view::npos;
}

template <class Char>
bool replace_all(std::basic_string_view<Char> text, std::basic_string_view<Char> old_text,
                 std::basic_string_view<Char> new_text, std::basic_string<Char>& out) {
    constexpr std::size_t none = std::basic_string_view<Char>::npos;
    if (old_text.empty()) return false;
    std::size_t hit = find_text(text, old_text, 0);
    if (hit == none) return false;
    std::basic_string<Char> result;
    result.reserve(text.size() + new_text.size());
    std::size_t copied = 0;
    while (hit != none) {
        result.append(text.substr(copied, hit - copied));
        result.append(new_text);
        copied = hit + old_text.size();
        hit = find_text(text, old_text, copied);
    }
    result.append(text.substr(copied));
    out = std::move(result);
    return true;
}

#define ZUNT_PII_INSTANTIATE(Char)                                                                                 \
    template std::vector<Span> find_all<Char>(Pattern, std::basic_string_view<Char>, const CharClasses&);         \
    template std::basic_string<Char> masked_form<Char>(std::basic_string_view<Char>, const MaskForm&);             \
    template bool replace_all<Char>(std::basic_string_view<Char>, std::basic_string_view<Char>,                   \
                                    std::basic_string_view<Char>, std::basic_string<Char>&);

ZUNT_PII_INSTANTIATE(char)
ZUNT_PII_INSTANTIATE(char32_t)

#undef ZUNT_PII_INSTANTIATE

}  // namespace zunt::pii
