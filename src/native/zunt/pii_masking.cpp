// Masking all found texts of a pattern in one pass over the occurrences of
// the found texts in the original text. Why this gives the step-by-step text,
// with a worked example, is in pii_masking.md beside this file.
#include "zunt/pii_masking.hpp"

#include <algorithm>
#include <array>
#include <type_traits>
#include <utility>

namespace zunt::pii {

namespace {

using detail::cp;

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
// bits are kept, so different keys, and different texts under one key, meet
// there. It only narrows the search: callers compare the texts of what they
// find, and take nothing on a key alone.
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

    // The first value v under a key with the same tag for which same(v), after
    // inserting `value` when there is none.
    template <class Same>
    std::uint32_t find_or_insert(std::uint64_t key, std::uint32_t value, Same same) {
        std::size_t i = key & mask_;
        for (; slots_[i].value != empty; i = (i + 1) & mask_) {
            if (slots_[i].tag == tag(key) && same(slots_[i].value)) return slots_[i].value;
        }
        slots_[i] = Slot{tag(key), value};
        return value;
    }

    // f(value) for each value under a key with the same tag, until f returns true.
    template <class F>
    void for_each(std::uint64_t key, F f) const {
        for (std::size_t i = key & mask_; slots_[i].value != empty; i = (i + 1) & mask_) {
            if (slots_[i].tag == tag(key) && f(slots_[i].value)) return;
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

template <class Char>
class OnePassMasking {
public:
    OnePassMasking(const PatternRow& row, const MaskForm& form, std::basic_string_view<Char> text,
                   const CharClasses& classes, const MaskingTuning& tuning)
        : row_(row),
          form_(form),
          t_(text),
          n_(text.size()),
          cls_(classes),
          hash_(tuning.key_hash),
          budget_(tuning.bytes_fixed + tuning.bytes_per_unit * text.size()) {
        for (char32_t c = 0; c < kinds_.size(); ++c) {
            const bool ascii = c < 128;
            if (row.is_anchor(c, classes)) {
                kinds_[c] |= anchor_kind;
                if (ascii) single_anchor_ = anchor_count_++ == 0 ? static_cast<Char>(c) : Char{0};
            }
            if (!ascii || row.left.has(c)) kinds_[c] |= left_kind;
            if (!ascii || row.right.has(c)) kinds_[c] |= right_kind;
        }
    }

    // The way taken; step_by_step when the form or a found text does not
    // allow the masking here: then `out` is untouched.
    MaskRoute run(const std::vector<Span>& spans, std::basic_string<Char>& out) {
        if (!split_form() || !collect_words(spans) || !place_core()) return MaskRoute::step_by_step;
        index_right_lengths();
        MaskRoute route = MaskRoute::one_pass;
        if (find_occurrences(spans)) {
            replace_in_order();
        } else {
            route = MaskRoute::searched;
            replace_by_search();
        }
        write(out);
        return route;
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
        std::size_t begin;   // of the occurrence looked for
        std::size_t length;  // of the found text looked for
        std::uint64_t key;
    };
    using Found = std::vector<std::pair<std::uint32_t, std::size_t>>;  // (word, begin)

    char32_t at(std::size_t i) const { return cp(t_[i]); }

    bool anchor(char32_t c) const {
        return c < kinds_.size() ? (kinds_[c] & anchor_kind) != 0 : row_.is_anchor(c, cls_);
    }

    // The first anchor at or after q, or n_.
    std::size_t next_anchor(std::size_t q) const {
        if (anchor_count_ == 1 && !row_.anchors_beyond_ascii()) {
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

    // The index key of a salted hash: the built-in mixer unless the tests put another in its place.
    std::uint64_t key_of(std::uint64_t x) const { return hash_ == nullptr ? mix(x) : hash_(x); }

    std::uint64_t left_key(std::size_t length, std::uint64_t h) const { return key_of(h ^ mix(length)); }
    static std::uint64_t right_salt(std::uint32_t left, std::size_t length) {
        return mix((std::uint64_t{left} << 32) | length);
    }
    std::uint64_t right_key(std::uint32_t left, std::size_t length, std::uint64_t h) const {
        return key_of(h ^ right_salt(left, length));
    }

    // Memory for the occurrences and look-ups: false once past the budget.
    template <class T>
    bool spend() {
        spent_ += sizeof(T);
        return spent_ <= budget_;
    }

    // Whether left part `left` is the text t_[begin, begin + length).
    bool is_left(std::uint32_t left, std::size_t begin, std::size_t length) const {
        const std::uint32_t k = left_span_[left];
        const std::size_t own_begin = (*spans_)[k].begin;
        return span_anchor_[k] - own_begin == length && same_text(own_begin, begin, length);
    }

    // The id of the left part t_[begin, begin + length) under `key`, or empty.
    std::uint32_t left_id(std::uint64_t key, std::size_t begin, std::size_t length) const {
        std::uint32_t id = KeyIndex::empty;
        lefts_.for_each(key, [&](std::uint32_t left) {
            // Invariant: one id per distinct left part text; ids are taken on equal texts only.
            if (!is_left(left, begin, length)) return false;
            id = left;
            return true;
        });
        return id;
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
        const std::string_view b1 = m.substr(0, first_star_);
        const std::string_view b2 = m.substr(after_last_star_);
        for (char32_t c = 0; c < 128; ++c) {
            b1_characters_[c] = b1.find(static_cast<char>(c)) != std::string_view::npos;
            b2_characters_[c] = b2.find(static_cast<char>(c)) != std::string_view::npos;
        }
        return true;
    }

    // What a new found text tells about the borders b1 and b2.
    void learn_borders(std::size_t b, std::size_t length) {
        const std::string_view m = form_.middle;
        const std::string_view b1 = m.substr(0, first_star_);
        const std::string_view b2 = m.substr(after_last_star_);
        const auto holds = [](const std::array<bool, 128>& set, char32_t c) { return c < 128 && set[c]; };
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
    // found text a mask keeps (pii_masking.md); false when the borders allow
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
    // forwards, as the walk reads them. Ids are given on equal texts only.
    // False when a found text breaks what the walk rests on: then the line
    // is replaced step by step.
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
                // Invariant: the walk reads a left part back over in_left characters only.
                if (!in_left(at(i))) return false;
                star = star || at(i) == '*';
                hl += at(i) * weight;
                weight *= hash_base;
            }
            if (i == s.end) return false;  // invariant: every found text has an anchor
            std::uint64_t hr = 0;
            for (std::size_t j = i; j < s.end; ++j) {
                // Invariant: the walk reads a right part on over in_right characters only.
                if (j > i && !in_right(at(j))) return false;
                star = star || at(j) == '*';
                hr = hr * hash_base + at(j);
            }
            if (star) return false;
            keys.push_back({i - s.begin, left_key(i - s.begin, hl), hr});
        }
        // The left parts' ids; the look-ups run ahead of their use.
        spans_ = &spans;
        lefts_ = KeyIndex(spans.size());
        left_filter_ = KeyFilter(spans.size());
        span_anchor_.resize(spans.size());
        span_left_.resize(spans.size());
        for (std::size_t k = 0; k < spans.size(); ++k) {
            span_anchor_[k] = spans[k].begin + keys[k].anchor;
            if (k + prefetch_distance < spans.size()) lefts_.prefetch(keys[k + prefetch_distance].key);
            // Invariant: one id per distinct left part text; ids are taken on equal texts only.
            const std::uint32_t left = lefts_.find_or_insert(keys[k].key, left_count_, [&](std::uint32_t other) {
                return is_left(other, spans[k].begin, keys[k].anchor);
            });
            if (left == left_count_) {
                ++left_count_;
                left_span_.push_back(static_cast<std::uint32_t>(k));
                left_filter_.add(keys[k].key);
            }
            span_left_[k] = left;
            keys[k].key = right_key(left, spans[k].end - span_anchor_[k], keys[k].right_hash);
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
            const auto next_id = static_cast<std::uint32_t>(words_.size());
            // Invariant: one id per distinct found text, given on equal texts only.
            const std::uint32_t id = rights_.find_or_insert(keys[k].key, next_id, [&](std::uint32_t w) {
                return words_[w].length == length && same_text(words_[w].begin, s.begin, length);
            });
            if (id == next_id) {
                learn_borders(s.begin, length);
                words_.push_back({s.begin, length, a});
                word_left_.push_back(span_left_[k]);
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
    // independent look-ups whose slots are fetched ahead. False, with
    // nothing kept, once they need more memory than the budget.
    bool find_occurrences(const std::vector<Span>& spans) {
        Found found;
        found.reserve(spans.size());
        std::vector<RightProbe> right_probes;
        const bool walked = left_lengths_.size() == 1 ? walk_without_left_parts(spans, found, right_probes)
                                                      : walk_with_left_parts(spans, found, right_probes);
        if (!walked) return false;
        for (std::size_t k = 0; k < right_probes.size(); ++k) {
            if (k + prefetch_distance < right_probes.size()) rights_.prefetch(right_probes[k + prefetch_distance].key);
            const std::size_t begin = right_probes[k].begin;
            bool within = true;
            rights_.for_each(right_probes[k].key, [&](std::uint32_t w) {
                const Word& word = words_[w];
                // Invariant: an occurrence is taken on equal texts only; a key alone says nothing.
                if (word.length != right_probes[k].length || begin + word.length > n_ ||
                    !same_text(word.begin, begin, word.length)) {
                    return false;
                }
                within = spend<typename Found::value_type>();
                found.push_back({w, begin});
                return true;  // one text has this place and length
            });
            if (!within) return false;
        }
        group_by_word(found);
        return true;
    }

    // Every found text starts at its anchor. At each anchor, the windows of
    // each right length are hashed from running prefix hashes over the run
    // of characters that found texts can have, kept for the last positions
    // only.
    bool walk_without_left_parts(const std::vector<Span>& spans, Found& found, std::vector<RightProbe>& probes) {
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
                        if (!spend<typename Found::value_type>()) return false;
                        found.push_back({steps_[next_span], q});
                        continue;
                    }
                    const std::uint64_t h = prefix[(q + r) & wrap] - prefix[q & wrap] * power[r];
                    const std::uint64_t key = key_of(h ^ salt[i]);
                    if (!right_filter_.may_have(key)) continue;
                    if (!spend<RightProbe>()) return false;
                    probes.push_back({q, r, key});
                }
            }
            run = next_anchor(run_end);
        }
        return true;
    }

    // At each anchor, the left part is read backwards and looked up for each
    // length that left parts have; for each left part found, the right part
    // is read forwards and looked up for each length that goes with it.
    bool walk_with_left_parts(const std::vector<Span>& spans, Found& found, std::vector<RightProbe>& probes) {
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
                    if (!spend<typename Found::value_type>()) return false;
                    found.push_back({steps_[next_span], spans[next_span].begin});
                    if (right_lengths_of_[left + 1] - right_lengths_of_[left] > 1) {
                        if (!spend<LeftPart>()) return false;
                        lefts.push_back({q, a, 0, left, spans[next_span].end - q});
                    }
                } else if (left_lengths_[a] != 0) {
                    const std::uint64_t key = left_key(a, hl);
                    if (left_filter_.may_have(key)) {
                        if (!spend<LeftPart>()) return false;
                        lefts.push_back({q, a, key, KeyIndex::empty, 0});
                    }
                }
                if (a == longest_left || a == q) break;
                const char32_t c = at(q - a - 1);
                if (anchor(c) || !in_left(c)) break;
                hl = hl * hash_base + c;
            }
        }

        for (std::size_t k = 0; k < lefts.size(); ++k) {
            if (k + prefetch_distance < lefts.size()) lefts_.prefetch(lefts[k + prefetch_distance].key);
            LeftPart& lp = lefts[k];
            if (lp.left == KeyIndex::empty) lp.left = left_id(lp.key, lp.anchor_at - lp.length, lp.length);
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
                if (!right_filter_.may_have(key)) continue;
                if (!spend<RightProbe>()) return false;
                probes.push_back({q - lp.length, lp.length + length, key});
            }
        }
        return true;
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
                if (meet(marks, list[i], length, taken_end)) list[kept++] = list[i];
            }
            live_[w] = kept;
        }
    }

    // An occurrence, in text order, met by a step: passed over when a cut
    // touches it (it is gone from the current text), taken when it starts at
    // or after the end of the one the step took last (str.replace), else
    // kept intact for a later step with the same text: then true.
    bool meet(CutMarks& marks, std::size_t begin, std::size_t length, std::size_t& taken_end) {
        if (marks.any(begin, begin + length)) return false;
        if (begin < taken_end) return true;
        const Cut cut{begin + keep_head_, begin + length - keep_tail_};
        marks.mark(cut.begin, cut.end);
        cuts_.push_back(cut);
        taken_end = begin + length;
        return false;
    }

    // The replacement steps in order, as replace_in_order takes them, where
    // the occurrences of all found texts do not fit the budget: each step
    // looks for its found text's occurrences anew, at the anchors when they
    // are few, else by a search of the text. A step whose found text an
    // earlier step left no occurrence of that was neither cut nor taken
    // takes nothing (replacing never makes one) and is skipped; so is, from
    // then on, an anchor that a cut has reached within the shortest right
    // part after it.
    void replace_by_search() {
        CutMarks marks(n_);
        std::size_t shortest_right = n_;
        for (const Word& word : words_) shortest_right = std::min(shortest_right, word.length - word.anchor);
        std::vector<std::size_t> anchors;
        for (std::size_t q = next_anchor(0); q < n_ && anchors.size() <= n_ / 16; q = next_anchor(q + 1)) {
            anchors.push_back(q);
        }
        const bool at_anchors = anchors.size() <= n_ / 16;
        if (!at_anchors) std::vector<std::size_t>().swap(anchors);
        std::vector<char> may_take(words_.size(), 1);
        for (std::uint32_t w : steps_) {
            if (!may_take[w]) continue;
            const Word& word = words_[w];
            const std::size_t length = word.length;
            bool kept = false;
            std::size_t taken_end = 0;
            auto consider = [&](std::size_t begin) { kept = meet(marks, begin, length, taken_end) || kept; };
            if (at_anchors) {
                // An occurrence's first anchor is one of the text's.
                std::size_t live = 0;
                for (const std::size_t q : anchors) {
                    // Invariant: every occurrence with its anchor at q holds
                    // [q, q + shortest_right); once a cut is there, none is
                    // intact, now or later.
                    if (q + shortest_right > n_ || marks.any(q, q + shortest_right)) continue;
                    anchors[live++] = q;
                    if (q < word.anchor || q - word.anchor + length > n_) continue;
                    const std::size_t begin = q - word.anchor;
                    if (same_text(word.begin, begin, length)) consider(begin);
                }
                anchors.resize(live);
            } else {
                const std::basic_string_view<Char> text = t_.substr(word.begin, length);
                for (std::size_t b = find_text(t_, text, 0); b != std::basic_string_view<Char>::npos;
                     b = find_text(t_, text, b + 1)) {
                    consider(b);
                }
            }
            may_take[w] = kept;
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

    const PatternRow& row_;
    const MaskForm& form_;
    std::basic_string_view<Char> t_;
    std::size_t n_;
    const CharClasses& cls_;
    KeyHash hash_;        // nullptr: mix
    std::size_t budget_;  // bytes the occurrences and look-ups may take
    std::size_t spent_ = 0;

    // What a character below 256 can be: an anchor, in a left part, in a
    // right part past the anchor. (Covering all of a byte's values, it
    // answers for bytes without a test of the range.)
    static constexpr std::uint8_t anchor_kind = 1, left_kind = 2, right_kind = 4;
    std::array<std::uint8_t, 256> kinds_{};
    std::size_t anchor_count_ = 0;  // ASCII anchors
    Char single_anchor_{0};         // the ASCII anchor when it is the only one

    std::size_t first_star_ = 0, after_last_star_ = 0;  // in the middle
    std::size_t core_gap_ = 0;                          // longest run between stars without one
    std::array<bool, 128> b1_characters_{}, b2_characters_{};
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
    const std::vector<Span>* spans_ = nullptr;
    std::vector<std::uint32_t> left_span_;  // per left id, the found span whose left part it is
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

// The steps one by one: the reference, and the way taken where the one-pass
// masking does not apply.
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
MaskRoute mask_spans(const PatternRow& row, const MaskForm& form, std::basic_string_view<Char> text,
                     const CharClasses& classes, const std::vector<Span>& spans, std::basic_string<Char>& out,
                     const MaskingTuning& tuning) {
    const auto empty = [](const Span& s) { return s.begin == s.end; };
    if (spans.empty()) {
        out.assign(text);
        return MaskRoute::one_pass;
    }
    if (std::any_of(spans.begin(), spans.end(), empty)) {
        // An empty found text masks nothing (replacing it would insert its
        // mask between every two characters).
        std::vector<Span> found = spans;
        std::erase_if(found, empty);
        return mask_spans(row, form, text, classes, found, out, tuning);
    }
    const MaskRoute route = OnePassMasking<Char>(row, form, text, classes, tuning).run(spans, out);
    if (route == MaskRoute::step_by_step) out = mask_step_by_step(form, text, spans);
    return route;
}

template <class Char>
bool mask(Pattern p, const MaskForm& form, std::basic_string_view<Char> text, const CharClasses& classes,
          std::basic_string<Char>& out) {
    std::vector<Span> spans = find_all(p, text, classes);
    // An empty found text masks nothing (replacing it would insert its mask
    // between every two characters).
    std::erase_if(spans, [](const Span& s) { return s.begin == s.end; });
    if (spans.empty()) return false;
    mask_spans(pattern_row(p), form, text, classes, spans, out, MaskingTuning{});
    return true;
}

#define ZUNT_PII_INSTANTIATE(Char)                                                                                \
    template MaskRoute mask_spans<Char>(const PatternRow&, const MaskForm&, std::basic_string_view<Char>,        \
                                        const CharClasses&, const std::vector<Span>&, std::basic_string<Char>&,  \
                                        const MaskingTuning&);                                                   \
    template bool mask<Char>(Pattern, const MaskForm&, std::basic_string_view<Char>, const CharClasses&,          \
                             std::basic_string<Char>&);

ZUNT_PII_INSTANTIATE(char)
ZUNT_PII_INSTANTIATE(char32_t)

#undef ZUNT_PII_INSTANTIATE

}  // namespace zunt::pii
