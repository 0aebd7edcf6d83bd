#include "zunt/pii_patterns.hpp"

#include <algorithm>
#include <type_traits>
#include <utility>

namespace zunt::pii {

namespace {

// The code point of a code unit (char is signed on some platforms).
template <class Char>
constexpr char32_t cp(Char c) {
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<Char>>(c));
}

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

    std::vector<Span> run(Pattern p) {
        switch (p) {
            case Pattern::ktp:
                ktp();
                break;
            case Pattern::npwp:
                npwp();
                break;
            case Pattern::phone_unbroken:
                phone(false);
                break;
            case Pattern::phone_grouped:
                phone(true);
                break;
            case Pattern::email:
                email();
                break;
        }
        return std::move(found_);
    }

private:
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

    std::basic_string_view<Char> t_;
    std::size_t n_;
    const CharClasses& cls_;
    std::vector<Span> found_;
};

}  // namespace

std::string_view pattern_source(Pattern p) {
    switch (p) {
        case Pattern::ktp:
            return R"((\d{8}([04][1-9]|[1256][0-9]|[37][01])\d{2}\d{4})(?![a-zA-Z0-9]))";
        case Pattern::npwp:
            return R"(([\d]{2}[.][\d]{3}[.][\d]{3}[.][\d][-][\d]{3}[.][\d]{3}\b))";
        case Pattern::phone_unbroken:
            return R"((?<!\w)(?:\+62|0|62)(?:8[1-9]|2[1-9]|3[1-468]|5[1-9]|7[0-8]|9[0-8])[0-9]{7,10}\b)";
        case Pattern::phone_grouped:
            return R"((?<!\w)(?:\+62|0|62)\s?(?:8[1-9]|2[1-9]|3[1-468]|5[1-9]|7[0-8]|9[0-8])\d{0,2}[-\s]\d{3,4}[-\s]\d{3,4}\b)";
        case Pattern::email:
            return R"(([a-zA-Z0-9._%+-]+@[a-zA-Z0-9.-]+\.[a-zA-Z]{2,}))";
    }
    return {};
}

template <class Char>
std::vector<Span> find_all(Pattern p, std::basic_string_view<Char> text, const CharClasses& classes) {
    return Scanner<Char>(text, classes).run(p);
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

template <class Char>
bool replace_all(std::basic_string_view<Char> text, std::basic_string_view<Char> old_text,
                 std::basic_string_view<Char> new_text, std::basic_string<Char>& out) {
    if (old_text.empty()) return false;
    std::size_t hit = text.find(old_text);
    if (hit == std::basic_string_view<Char>::npos) return false;
    std::basic_string<Char> result;
    result.reserve(text.size() + new_text.size());
    std::size_t copied = 0;
    while (hit != std::basic_string_view<Char>::npos) {
        result.append(text.substr(copied, hit - copied));
        result.append(new_text);
        copied = hit + old_text.size();
        hit = text.find(old_text, copied);
    }
    result.append(text.substr(copied));
    out = std::move(result);
    return true;
}

// ---------------------------------------------------------------------------
// Masking all found texts of a pattern in one pass
//
// The masking replaces, in the order found, every occurrence of each found
// text f in the current text by its mask, f[:head] + middle + f[-tail:]. The
// result is computed here from the occurrences of the found texts in the
// original text, without building the intermediate texts.
//
// Why that is possible. Write the middle as b1 + core + b2, the core running
// from its first '*' to its last. A border b1 is "kept" when every found text
// has it right after its head (f[head:head+|b1|] == b1), b2 when every found
// text has it right before its tail; then the mask leaves those characters
// of f where they are. A border that is not kept counts as part of the core;
// that needs no found text to end with a character of b1 (start with one of
// b2), and otherwise the one-pass masking is not used. Either way a mask
// keeps the first H and the last T characters of the occurrence where they
// are, deletes those between (the "cut", never empty) and puts the core in
// their place. For the built-in forms: "******" has no borders; ".***.***."
// on a tax number keeps its first '.' (a tax number's third character) and
// puts its last one in the core (no tax number starts with '.').
//
// Found texts have no '*', and are longer than any run without one inside
// the core. So a window of the current text that holds a found text lies
// between two cores (or a core and an end of the text), where nothing was
// cut: it is the same text at the same place in the original, touching no
// cut. An occurrence of a found text in the current text is therefore
// exactly an occurrence in the original that no earlier replacement has cut
// into ("intact"): replacing never creates one, it only destroys those that
// overlap its cut. Occurrences keep their left-to-right order, and two
// intact ones overlap in the current text exactly when they overlap in the
// original.
//
// One replacement step (Python's str.replace) takes, from the left, every
// intact occurrence that starts at or after the end of the one it took last.
// The others stay intact unless a cut reaches them: one that starts inside
// the kept tail of a taken one survives, so a text found again later is not
// necessarily done (in "ab@cd.ab@cd.ab", the occurrence of "ab@cd.ab" that
// starts in the first one's tail "ab" is masked by a second step with the
// same text).
//
// Finding the occurrences. Each pattern has anchor characters, and every
// found text has one: its first is at offset a, after the "left part" (the a
// characters before it, none an anchor); the "right part" starts at it. The
// text is walked once, from anchor to anchor. Where every left part is empty
// (identity-card numbers, unbroken phone numbers), the windows of each right
// length that start at an anchor are hashed from running prefix hashes.
// Otherwise the left part is read backwards from the anchor and looked up
// for each length that left parts have, and for each left part found, the
// right part is read forwards and looked up for each length that goes with
// it. A found span itself is known at its anchor without a look-up; a small
// filter answers most look-ups of texts that are no part of a found text;
// every other hit is compared in full. Reads stop at characters that no
// found text can have there.
//
// Cost: O(n) for the walk and the replacement steps, plus, per anchor, one
// filter test per (left part found there, right length of it that fits), and
// the look-ups and comparisons of what passes. With the four patterns of
// bounded length that is a bounded number per anchor. For e-mail addresses
// (anchor "@", which each found text has once) it is too as long as found
// addresses do not sit inside one another; lines made of addresses whose
// local parts are suffixes of one another and whose domains are prefixes of
// one another, each also found on its own, need more, growing to about
// n^(4/3) tests and, counting the comparisons, at most the n times (number
// of found texts) of the step-by-step replacement.

namespace {

// Multiplier of the polynomial hashes (odd; arithmetic mod 2^64).
constexpr std::uint64_t hash_base = 0x9e3779b97f4a7c15ull;

constexpr std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebull;
    x ^= x >> 31;
    return x;
}

// How far ahead of its use a look-up's slot is fetched, so that the cache
// misses of successive look-ups overlap.
constexpr std::size_t prefetch_distance = 16;

// An open-addressing multimap from keys (well-mixed hashes) to ids, in
// 8-byte slots: a key picks its slot by its low bits and only 32 of its high
// bits are kept, so different keys may meet under one; callers compare what
// they find.
class KeyIndex {
public:
    static constexpr std::uint32_t empty = 0xffffffffu;

    explicit KeyIndex(std::size_t entries = 0) {
        std::size_t capacity = 16;
        while (capacity < 2 * entries) capacity *= 2;
        slots_.assign(capacity, Slot{0, empty});
        mask_ = capacity - 1;
    }

    void prefetch(std::uint64_t key) const { __builtin_prefetch(&slots_[key & mask_]); }

    void insert(std::uint64_t key, std::uint32_t value) {
        std::size_t i = key & mask_;
        while (slots_[i].value != empty) i = (i + 1) & mask_;
        slots_[i] = Slot{tag(key), value};
    }

    // The first value under `key`, after inserting `value` when there is none.
    std::uint32_t find_or_insert(std::uint64_t key, std::uint32_t value) {
        std::size_t i = key & mask_;
        for (; slots_[i].value != empty; i = (i + 1) & mask_) {
            if (slots_[i].tag == tag(key)) return slots_[i].value;
        }
        slots_[i] = Slot{tag(key), value};
        return value;
    }

    // The first value under `key`, or `empty`.
    std::uint32_t find(std::uint64_t key) const {
        for (std::size_t i = key & mask_; slots_[i].value != empty; i = (i + 1) & mask_) {
            if (slots_[i].tag == tag(key)) return slots_[i].value;
        }
        return empty;
    }

    template <class F>
    void for_each(std::uint64_t key, F f) const {
        for (std::size_t i = key & mask_; slots_[i].value != empty; i = (i + 1) & mask_) {
            if (slots_[i].tag == tag(key)) f(slots_[i].value);
        }
    }

private:
    struct Slot {
        std::uint32_t tag;
        std::uint32_t value;
    };
    static std::uint32_t tag(std::uint64_t key) { return static_cast<std::uint32_t>(key >> 32); }

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

// A one-bit-per-key filter in front of a KeyIndex: small enough to stay in
// the cache, it answers most look-ups of absent keys without the index.
class KeyFilter {
public:
    explicit KeyFilter(std::size_t entries = 0) {
        std::size_t bits = 512;
        while (bits < 16 * entries) bits *= 2;
        words_.assign(bits / 64, 0);
        mask_ = bits - 1;
    }
    void add(std::uint64_t key) {
        const std::size_t b = bit(key);
        words_[b / 64] |= std::uint64_t{1} << (b % 64);
    }
    bool may_have(std::uint64_t key) const {
        const std::size_t b = bit(key);
        return (words_[b / 64] >> (b % 64) & 1) != 0;
    }

private:
    std::size_t bit(std::uint64_t key) const { return (key >> 20) & mask_; }

    std::vector<std::uint64_t> words_;
    std::size_t mask_ = 0;
};

// Positions of the original text that a mask has cut.
class CutMarks {
public:
    explicit CutMarks(std::size_t n) : words_(n / 64 + 1, 0) {}

    void mark(std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end;) {
            const std::size_t take = std::min<std::size_t>(64 - i % 64, end - i);
            words_[i / 64] |= bits(i % 64, take);
            i += take;
        }
    }

    bool any(std::size_t begin, std::size_t end) const {
        for (std::size_t i = begin; i < end;) {
            const std::size_t take = std::min<std::size_t>(64 - i % 64, end - i);
            if ((words_[i / 64] & bits(i % 64, take)) != 0) return true;
            i += take;
        }
        return false;
    }

private:
    static std::uint64_t bits(std::size_t from, std::size_t count) {
        return count == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << count) - 1) << from;
    }

    std::vector<std::uint64_t> words_;
};

// A set of ASCII characters.
class AsciiSet {
public:
    void add(char32_t c) {
        if (c < 128) bits_[c / 64] |= std::uint64_t{1} << (c % 64);
    }
    // For c < 128.
    bool has_ascii(char32_t c) const { return (bits_[c / 64] >> (c % 64) & 1) != 0; }

private:
    std::uint64_t bits_[2] = {0, 0};
};

// The characters of which every found text of `p` has one: where the right
// part of an occurrence starts.
bool is_anchor(Pattern p, char32_t c, const CharClasses& classes) {
    switch (p) {
        case Pattern::ktp:
            return classes.is(c, decimal);
        case Pattern::npwp:
            return c == '-';
        case Pattern::phone_unbroken:
            return c == '+' || c == '0' || c == '6';
        case Pattern::phone_grouped:
            return c == '-' || classes.is(c, space);
        case Pattern::email:
            return c == '@';
    }
    return false;
}

// Whether code points beyond ASCII can be anchors of `p`.
bool anchors_beyond_ascii(Pattern p) { return p == Pattern::ktp || p == Pattern::phone_grouped; }

// The ASCII characters that a found text of `p` can have in its left part
// and in its right part past the anchor, as the pattern allows them.
struct PartCharacters {
    AsciiSet left;
    AsciiSet right;
};

PartCharacters part_characters(Pattern p) {
    PartCharacters parts;
    for (char32_t c = 0; c < 128; ++c) {
        const bool digit = ascii_digit(c);
        const bool white = (ascii_classes[c] & space) != 0;
        bool left = false;
        bool right = false;
        switch (p) {
            case Pattern::ktp:
            case Pattern::phone_unbroken:
                right = digit;
                break;
            case Pattern::npwp:
                left = right = digit || c == '.';
                break;
            case Pattern::phone_grouped:
                left = digit || c == '+';
                right = digit || c == '-' || white;
                break;
            case Pattern::email:
                left = local_char(c);
                right = domain_char(c);
                break;
        }
        if (left) parts.left.add(c);
        if (right) parts.right.add(c);
    }
    return parts;
}

std::uint64_t left_key(std::size_t length, std::uint64_t h) { return mix(h ^ mix(length)); }

std::uint64_t right_salt(std::uint32_t left, std::size_t length) { return mix((std::uint64_t{left} << 32) | length); }

std::uint64_t right_key(std::uint32_t left, std::size_t length, std::uint64_t h) {
    return mix(h ^ right_salt(left, length));
}

template <class Char>
class OnePassMasking {
public:
    OnePassMasking(Pattern p, const MaskForm& form, std::basic_string_view<Char> text, const CharClasses& classes)
        : p_(p), form_(form), t_(text), n_(text.size()), cls_(classes) {
        const PartCharacters parts = part_characters(p);
        for (char32_t c = 0; c < kinds_.size(); ++c) {
            const bool ascii = c < 128;
            if (is_anchor(p, c, classes)) {
                kinds_[c] |= anchor_kind;
                if (ascii) single_anchor_ = anchor_count_++ == 0 ? static_cast<Char>(c) : Char{0};
            }
            if (!ascii || parts.left.has_ascii(c)) kinds_[c] |= left_kind;
            if (!ascii || parts.right.has_ascii(c)) kinds_[c] |= right_kind;
        }
    }

    // False when the form or a found text does not allow it (see above):
    // then nothing was computed.
    bool run(const std::vector<Span>& spans, std::basic_string<Char>& out) {
        if (!split_form() || !collect_words(spans) || !place_core()) return false;
        index_right_lengths();
        find_occurrences(spans);
        replace_in_order();
        write(out);
        return true;
    }

private:
    struct Word {
        std::size_t begin;   // of its first found span
        std::size_t length;
        std::size_t anchor;  // offset of its first anchor character
    };
    struct Cut {
        std::size_t begin;
        std::size_t end;
    };
    struct RightProbe {
        std::size_t begin;  // of the occurrence looked for
        std::uint64_t key;
    };
    using Found = std::vector<std::pair<std::uint32_t, std::size_t>>;  // (word, begin)

    char32_t at(std::size_t i) const { return cp(t_[i]); }

    bool anchor(char32_t c) const { return c < kinds_.size() ? (kinds_[c] & anchor_kind) != 0 : is_anchor(p_, c, cls_); }

    // The first anchor at or after q, or n_.
    std::size_t next_anchor(std::size_t q) const {
        if (anchor_count_ == 1 && !anchors_beyond_ascii(p_)) {
            const std::size_t i = t_.find(single_anchor_, q);
            return i == std::basic_string_view<Char>::npos ? n_ : i;
        }
        while (q < n_ && !anchor(at(q))) ++q;
        return q;
    }

    // Whether a found text can have `c` in its left part (right part, past
    // the anchor); code points beyond ASCII are taken as possible.
    bool in_left(char32_t c) const { return c >= kinds_.size() || (kinds_[c] & left_kind) != 0; }
    bool in_right(char32_t c) const { return c >= kinds_.size() || (kinds_[c] & right_kind) != 0; }
    // anchor(c) || in_right(c): a character that an occurrence can have.
    bool in_occurrence(char32_t c) const {
        return c >= kinds_.size() || (kinds_[c] & (anchor_kind | right_kind)) != 0;
    }

    bool same_text(std::size_t a, std::size_t b, std::size_t length) const {
        return t_.substr(a, length) == t_.substr(b, length);
    }

    // The middle's stars: b1 is before the first, b2 after the last.
    bool split_form() {
        const std::string_view m = form_.middle;
        first_star_ = m.find('*');
        if (first_star_ == std::string_view::npos) return false;
        after_last_star_ = m.rfind('*') + 1;
        std::size_t run = 0;
        for (std::size_t i = first_star_; i < after_last_star_; ++i) {
            run = m[i] == '*' ? 0 : run + 1;
            core_gap_ = std::max(core_gap_, run);
        }
        for (char c : m.substr(0, first_star_)) b1_characters_.add(static_cast<unsigned char>(c));
        for (char c : m.substr(after_last_star_)) b2_characters_.add(static_cast<unsigned char>(c));
        return true;
    }

    // What a new found text tells about the borders b1 and b2.
    void learn_borders(std::size_t b, std::size_t length) {
        const std::string_view m = form_.middle;
        const std::string_view b1 = m.substr(0, first_star_);
        const std::string_view b2 = m.substr(after_last_star_);
        const auto holds = [](const AsciiSet& set, char32_t c) { return c < 128 && set.has_ascii(c); };
        shortest_ = std::min(shortest_, length);
        if (b1_kept_ && form_.head + b1.size() <= length) {
            for (std::size_t i = 0; i < b1.size(); ++i) b1_kept_ = b1_kept_ && at(b + form_.head + i) == cp(b1[i]);
        } else {
            b1_kept_ = false;
        }
        if (b2_kept_ && form_.tail + b2.size() <= length) {
            const std::size_t from = b + length - form_.tail - b2.size();
            for (std::size_t i = 0; i < b2.size(); ++i) b2_kept_ = b2_kept_ && at(from + i) == cp(b2[i]);
        } else {
            b2_kept_ = false;
        }
        ends_in_b1_ = ends_in_b1_ || holds(b1_characters_, at(b + length - 1));
        starts_in_b2_ = starts_in_b2_ || holds(b2_characters_, at(b));
    }

    // Where the core begins and ends in the middle, and so how much of each
    // found text a mask keeps (see above); false when the borders allow
    // neither reading or a found text is too short.
    bool place_core() {
        if (b1_kept_) {
            core_begin_ = first_star_;
        } else if (!ends_in_b1_) {
            core_begin_ = 0;
        } else {
            return false;
        }
        if (b2_kept_) {
            core_end_ = after_last_star_;
        } else if (!starts_in_b2_) {
            core_end_ = form_.middle.size();
        } else {
            return false;
        }
        keep_head_ = form_.head + core_begin_;
        keep_tail_ = form_.tail + (form_.middle.size() - core_end_);
        return shortest_ > keep_head_ + keep_tail_ && shortest_ > core_gap_;
    }

    // The distinct found texts, and the found texts in order as their ids.
    // A found text is its left part's id and its right part: left parts
    // hashed from the anchor backwards, right parts from the anchor
    // forwards, as the walk reads them. Left parts that meet under one key
    // share an id; the full comparison of every hit tells them apart.
    bool collect_words(const std::vector<Span>& spans) {
        struct Keys {
            std::size_t anchor;
            std::uint64_t key;  // of the left part, then of the right part
            std::uint64_t right_hash;
        };
        if (spans.size() >= KeyIndex::empty) return false;  // ids are 32 bits
        std::vector<Keys> keys;
        keys.reserve(spans.size());
        for (const Span& s : spans) {
            // The left part hashed as the walk reads it, backwards from the
            // anchor: the character at offset i weighs hash_base^i.
            std::uint64_t hl = 0;
            std::uint64_t weight = 1;
            bool star = false;
            std::size_t i = s.begin;
            for (; i < s.end && !anchor(at(i)); ++i) {
                star = star || at(i) == '*';
                hl += at(i) * weight;
                weight *= hash_base;
            }
            if (i == s.end) return false;
            std::uint64_t hr = 0;
            for (std::size_t j = i; j < s.end; ++j) {
                star = star || at(j) == '*';
                hr = hr * hash_base + at(j);
            }
            if (star) return false;
            keys.push_back({i - s.begin, left_key(i - s.begin, hl), hr});
        }
        // The left parts' ids; the look-ups run ahead of their use.
        lefts_ = KeyIndex(spans.size());
        left_filter_ = KeyFilter(spans.size());
        span_anchor_.resize(spans.size());
        span_left_.resize(spans.size());
        for (std::size_t k = 0; k < spans.size(); ++k) {
            span_anchor_[k] = spans[k].begin + keys[k].anchor;
            if (k + prefetch_distance < spans.size()) lefts_.prefetch(keys[k + prefetch_distance].key);
            span_left_[k] = lefts_.find_or_insert(keys[k].key, left_count_);
            if (span_left_[k] == left_count_) {
                ++left_count_;
                left_filter_.add(keys[k].key);
            }
            keys[k].key = right_key(span_left_[k], spans[k].end - span_anchor_[k], keys[k].right_hash);
        }
        // The distinct found texts.
        rights_ = KeyIndex(spans.size());
        right_filter_ = KeyFilter(spans.size());
        steps_.reserve(spans.size());
        for (std::size_t k = 0; k < spans.size(); ++k) {
            if (k + prefetch_distance < spans.size()) rights_.prefetch(keys[k + prefetch_distance].key);
            const Span& s = spans[k];
            const std::size_t length = s.end - s.begin;
            const std::size_t a = keys[k].anchor;
            std::uint32_t id = KeyIndex::empty;
            rights_.for_each(keys[k].key, [&](std::uint32_t w) {
                if (id == KeyIndex::empty && words_[w].length == length && words_[w].anchor == a &&
                    same_text(words_[w].begin, s.begin, length)) {
                    id = w;
                }
            });
            if (id == KeyIndex::empty) {
                learn_borders(s.begin, length);
                id = static_cast<std::uint32_t>(words_.size());
                words_.push_back({s.begin, length, a});
                word_left_.push_back(span_left_[k]);
                rights_.insert(keys[k].key, id);
                right_filter_.add(keys[k].key);
                if (a >= left_lengths_.size()) left_lengths_.resize(a + 1, 0);
                left_lengths_[a] = 1;
            }
            steps_.push_back(id);
        }
        return true;
    }

    // Per left part, the lengths of its found texts' right parts, ascending
    // and each once.
    void index_right_lengths() {
        right_lengths_of_.assign(left_count_ + 1, 0);
        for (std::uint32_t w = 0; w < words_.size(); ++w) ++right_lengths_of_[word_left_[w] + 1];
        for (std::uint32_t i = 0; i < left_count_; ++i) right_lengths_of_[i + 1] += right_lengths_of_[i];
        right_lengths_.resize(words_.size());
        std::vector<std::uint32_t> next(right_lengths_of_.begin(), right_lengths_of_.end() - 1);
        for (std::uint32_t w = 0; w < words_.size(); ++w) {
            right_lengths_[next[word_left_[w]]++] = static_cast<std::uint32_t>(words_[w].length - words_[w].anchor);
        }
        std::size_t packed = 0;
        for (std::uint32_t left = 0; left < left_count_; ++left) {
            std::uint32_t* first = right_lengths_.data() + right_lengths_of_[left];
            std::uint32_t* last = right_lengths_.data() + right_lengths_of_[left + 1];
            std::sort(first, last);
            last = std::unique(first, last);
            right_lengths_of_[left] = static_cast<std::uint32_t>(packed);
            for (const std::uint32_t* r = first; r != last; ++r) right_lengths_[packed++] = *r;
        }
        right_lengths_of_[left_count_] = static_cast<std::uint32_t>(packed);
        right_lengths_.resize(packed);
    }

    // Every occurrence of every found text. At the anchor of a found span,
    // that span is an occurrence of its own found text without a look-up.
    // The other look-ups are collected and run in passes, each a run of
    // independent look-ups whose slots are fetched ahead; each hit is
    // compared in full.
    void find_occurrences(const std::vector<Span>& spans) {
        Found found;
        found.reserve(spans.size());
        std::vector<RightProbe> right_probes;
        if (left_lengths_.size() == 1) {
            walk_without_left_parts(spans, found, right_probes);
        } else {
            walk_with_left_parts(spans, found, right_probes);
        }
        for (std::size_t k = 0; k < right_probes.size(); ++k) {
            if (k + prefetch_distance < right_probes.size()) rights_.prefetch(right_probes[k + prefetch_distance].key);
            const std::size_t begin = right_probes[k].begin;
            rights_.for_each(right_probes[k].key, [&](std::uint32_t w) {
                const Word& word = words_[w];
                if (begin + word.length <= n_ && same_text(word.begin, begin, word.length)) found.push_back({w, begin});
            });
        }
        group_by_word(found);
    }

    // Every found text starts at its anchor. At each anchor, the windows of
    // each right length are hashed from running prefix hashes over the run
    // of characters that found texts can have, kept for the last positions
    // only.
    void walk_without_left_parts(const std::vector<Span>& spans, Found& found, std::vector<RightProbe>& probes) {
        const std::uint32_t* lengths = right_lengths_.data() + right_lengths_of_[0];
        const std::size_t count = right_lengths_of_[1] - right_lengths_of_[0];
        const std::size_t longest = lengths[count - 1];
        std::vector<std::uint64_t> power(longest + 1, 1);
        for (std::size_t r = 1; r <= longest; ++r) power[r] = power[r - 1] * hash_base;
        std::vector<std::uint64_t> salt(count);
        for (std::size_t i = 0; i < count; ++i) salt[i] = right_salt(0, lengths[i]);
        std::size_t ring = 1;
        while (ring <= longest) ring *= 2;
        std::vector<std::uint64_t> prefix(ring);  // [i % ring]: hash of the run's text before i
        const std::size_t wrap = ring - 1;
        std::size_t next_span = 0;
        for (std::size_t run = next_anchor(0); run < n_;) {
            std::size_t run_end = run + 1;
            while (run_end < n_ && in_occurrence(at(run_end))) ++run_end;
            prefix[run & wrap] = 0;
            std::size_t hashed = run;  // prefix hashes known up to here
            for (std::size_t q = run; q < run_end; ++q) {
                if (!anchor(at(q))) continue;
                for (const std::size_t until = std::min(q + longest, run_end); hashed < until; ++hashed) {
                    prefix[(hashed + 1) & wrap] = prefix[hashed & wrap] * hash_base + at(hashed);
                }
                while (next_span < spans.size() && spans[next_span].begin < q) ++next_span;
                const bool own = next_span < spans.size() && spans[next_span].begin == q;
                const std::size_t own_length = own ? spans[next_span].end - q : 0;
                for (std::size_t i = 0; i < count && q + lengths[i] <= run_end; ++i) {
                    const std::size_t r = lengths[i];
                    if (r == own_length) {
                        found.push_back({steps_[next_span], q});
                        continue;
                    }
                    const std::uint64_t h = prefix[(q + r) & wrap] - prefix[q & wrap] * power[r];
                    const std::uint64_t key = mix(h ^ salt[i]);
                    if (right_filter_.may_have(key)) probes.push_back({q, key});
                }
            }
            run = next_anchor(run_end);
        }
    }

    // At each anchor, the left part is read backwards and looked up for each
    // length that left parts have; for each left part found, the right part
    // is read forwards and looked up for each length that goes with it.
    void walk_with_left_parts(const std::vector<Span>& spans, Found& found, std::vector<RightProbe>& probes) {
        // In text order: the left parts that end at an anchor, as looked up
        // (left empty until found) or known (a found span's own).
        struct LeftPart {
            std::size_t anchor_at;
            std::size_t length;
            std::uint64_t key;
            std::uint32_t left;
            std::size_t known_right;  // a right length already dealt with, or 0
        };
        std::vector<LeftPart> lefts;
        const std::size_t longest_left = left_lengths_.size() - 1;
        std::size_t next_span = 0;
        for (std::size_t q = next_anchor(0); q < n_; q = next_anchor(q + 1)) {
            while (next_span < spans.size() && span_anchor_[next_span] < q) ++next_span;
            const bool own = next_span < spans.size() && span_anchor_[next_span] == q;
            const std::size_t own_length = own ? q - spans[next_span].begin : 0;
            std::uint64_t hl = 0;
            for (std::size_t a = 0;; ++a) {
                if (own && a == own_length) {
                    const std::uint32_t left = span_left_[next_span];
                    found.push_back({steps_[next_span], spans[next_span].begin});
                    if (right_lengths_of_[left + 1] - right_lengths_of_[left] > 1) {
                        lefts.push_back({q, a, 0, left, spans[next_span].end - q});
                    }
                } else if (left_lengths_[a] != 0) {
                    const std::uint64_t key = left_key(a, hl);
                    if (left_filter_.may_have(key)) lefts.push_back({q, a, key, KeyIndex::empty, 0});
                }
                if (a == longest_left || a == q) break;
                const char32_t c = at(q - a - 1);
                if (anchor(c) || !in_left(c)) break;
                hl = hl * hash_base + c;
            }
        }

        for (std::size_t k = 0; k < lefts.size(); ++k) {
            if (k + prefetch_distance < lefts.size()) lefts_.prefetch(lefts[k + prefetch_distance].key);
            if (lefts[k].left == KeyIndex::empty) lefts[k].left = lefts_.find(lefts[k].key);
        }

        // The right part read from each anchor once, however many left parts
        // end there.
        std::vector<std::uint64_t> right_hash;  // [i]: of the first i characters from the anchor
        std::size_t hashed_at = n_;
        bool right_ends = false;  // the right part from hashed_at cannot grow
        for (const LeftPart& lp : lefts) {
            if (lp.left == KeyIndex::empty) continue;
            const std::size_t q = lp.anchor_at;
            if (q != hashed_at) {
                right_hash.assign(1, 0);
                hashed_at = q;
                right_ends = false;
            }
            for (std::uint32_t i = right_lengths_of_[lp.left]; i < right_lengths_of_[lp.left + 1]; ++i) {
                const std::size_t length = right_lengths_[i];
                while (right_hash.size() <= length && !right_ends) {
                    const std::size_t j = q + right_hash.size() - 1;
                    if (j >= n_ || (j > q && !in_right(at(j)))) {
                        right_ends = true;
                    } else {
                        right_hash.push_back(right_hash.back() * hash_base + at(j));
                    }
                }
                if (right_hash.size() <= length) break;
                if (length == lp.known_right) continue;
                const std::uint64_t key = right_key(lp.left, length, right_hash[length]);
                if (right_filter_.may_have(key)) probes.push_back({q - lp.length, key});
            }
        }
    }

    // The occurrences grouped by found text, each group in text order.
    void group_by_word(const Found& found) {
        occurrences_of_.assign(words_.size() + 1, 0);
        for (const auto& o : found) ++occurrences_of_[o.first + 1];
        for (std::size_t w = 0; w < words_.size(); ++w) occurrences_of_[w + 1] += occurrences_of_[w];
        live_.resize(words_.size());
        for (std::size_t w = 0; w < words_.size(); ++w) live_[w] = occurrences_of_[w];
        occurrences_.resize(found.size());
        for (const auto& o : found) occurrences_[live_[o.first]++] = o.second;
        for (std::size_t w = 0; w < words_.size(); ++w) {
            live_[w] -= occurrences_of_[w];
            std::size_t* first = occurrences_.data() + occurrences_of_[w];
            if (!std::is_sorted(first, first + live_[w])) std::sort(first, first + live_[w]);
        }
    }

    // The replacement steps, in the order found. Each keeps, of its found
    // text's occurrences, those neither cut nor taken: the ones a later step
    // with the same text may still take.
    void replace_in_order() {
        CutMarks marks(n_);
        cuts_.reserve(steps_.size());
        for (std::uint32_t w : steps_) {
            const std::size_t length = words_[w].length;
            std::size_t* list = occurrences_.data() + occurrences_of_[w];
            std::size_t kept = 0;
            std::size_t taken_end = 0;
            for (std::size_t i = 0; i < live_[w]; ++i) {
                const std::size_t begin = list[i];
                if (marks.any(begin, begin + length)) continue;
                if (begin >= taken_end) {
                    const Cut cut{begin + keep_head_, begin + length - keep_tail_};
                    marks.mark(cut.begin, cut.end);
                    cuts_.push_back(cut);
                    taken_end = begin + length;
                } else {
                    list[kept++] = begin;
                }
            }
            live_[w] = kept;
        }
    }

    void write(std::basic_string<Char>& out) {
        auto before = [](const Cut& x, const Cut& y) { return x.begin < y.begin; };
        if (!std::is_sorted(cuts_.begin(), cuts_.end(), before)) std::sort(cuts_.begin(), cuts_.end(), before);
        const std::string_view middle_core = form_.middle.substr(core_begin_, core_end_ - core_begin_);
        const std::basic_string<Char> core(middle_core.begin(), middle_core.end());
        std::size_t size = n_;
        for (const Cut& c : cuts_) size = size - (c.end - c.begin) + core.size();
        std::basic_string<Char> result;
        result.reserve(size);
        std::size_t copied = 0;
        for (const Cut& c : cuts_) {
            result.append(t_.substr(copied, c.begin - copied));
            result.append(core);
            copied = c.end;
        }
        result.append(t_.substr(copied));
        out = std::move(result);
    }

    Pattern p_;
    const MaskForm& form_;
    std::basic_string_view<Char> t_;
    std::size_t n_;
    const CharClasses& cls_;

    // What a character below 256 can be: an anchor, in a left part, in a
    // right part past the anchor. (Covering all of a byte's values, it
    // answers for bytes without a test of the range.)
    static constexpr std::uint8_t anchor_kind = 1, left_kind = 2, right_kind = 4;
    std::array<std::uint8_t, 256> kinds_{};
    std::size_t anchor_count_ = 0;  // ASCII anchors
    Char single_anchor_{0};         // the ASCII anchor when it is the only one

    std::size_t first_star_ = 0, after_last_star_ = 0;  // in the middle
    std::size_t core_gap_ = 0;                          // longest run between stars without one
    AsciiSet b1_characters_, b2_characters_;
    bool b1_kept_ = true, b2_kept_ = true;              // every found text has them where the mask does
    bool ends_in_b1_ = false, starts_in_b2_ = false;    // some found text ends (starts) with one of theirs
    std::size_t shortest_ = static_cast<std::size_t>(-1);
    std::size_t core_begin_ = 0, core_end_ = 0;  // the core's place in the middle
    std::size_t keep_head_ = 0, keep_tail_ = 0;  // H and T

    std::vector<Word> words_;
    std::vector<std::uint32_t> word_left_;  // per word, its left part's id
    std::vector<std::uint32_t> steps_;      // per found span, its word
    std::vector<std::size_t> span_anchor_;  // per found span, where its anchor is
    std::vector<std::uint32_t> span_left_;  // per found span, its left part's id
    std::uint32_t left_count_ = 0;
    KeyIndex lefts_, rights_;
    KeyFilter left_filter_, right_filter_;
    std::vector<char> left_lengths_;               // [a]: some left part has length a
    std::vector<std::uint32_t> right_lengths_of_;  // per left id, its range in right_lengths_
    std::vector<std::uint32_t> right_lengths_;

    std::vector<std::size_t> occurrences_of_;  // per word, its range in occurrences_
    std::vector<std::size_t> occurrences_;
    std::vector<std::size_t> live_;  // per word, how many of its range are still intact
    std::vector<Cut> cuts_;
};

// The steps one by one, as described: the reference for the forms that the
// one-pass masking does not cover.
template <class Char>
std::basic_string<Char> mask_step_by_step(const MaskForm& form, std::basic_string_view<Char> text,
                                          const std::vector<Span>& spans) {
    // The replacements change a copy: the found texts are read from `text`.
    std::basic_string<Char> current(text);
    std::basic_string<Char> next;
    for (const Span& s : spans) {
        const std::basic_string_view<Char> found = text.substr(s.begin, s.end - s.begin);
        const std::basic_string<Char> masked = masked_form(found, form);
        if (replace_all(std::basic_string_view<Char>(current), found, std::basic_string_view<Char>(masked), next)) {
            current.swap(next);
        }
    }
    return current;
}

}  // namespace

template <class Char>
bool mask(Pattern p, const MaskForm& form, std::basic_string_view<Char> text, const CharClasses& classes,
          std::basic_string<Char>& out) {
    const std::vector<Span> spans = find_all(p, text, classes);
    if (spans.empty()) return false;
    if (!OnePassMasking<Char>(p, form, text, classes).run(spans, out)) out = mask_step_by_step(form, text, spans);
    return true;
}

#define ZUNT_PII_INSTANTIATE(Char)                                                                                 \
    template std::vector<Span> find_all<Char>(Pattern, std::basic_string_view<Char>, const CharClasses&);         \
    template std::basic_string<Char> masked_form<Char>(std::basic_string_view<Char>, const MaskForm&);             \
    template bool replace_all<Char>(std::basic_string_view<Char>, std::basic_string_view<Char>,                   \
                                    std::basic_string_view<Char>, std::basic_string<Char>&);                      \
    template bool mask<Char>(Pattern, const MaskForm&, std::basic_string_view<Char>, const CharClasses&,           \
                             std::basic_string<Char>&);

ZUNT_PII_INSTANTIATE(char)
ZUNT_PII_INSTANTIATE(char32_t)

#undef ZUNT_PII_INSTANTIATE

}  // namespace zunt::pii
