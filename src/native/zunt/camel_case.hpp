// Splitting camelCase words with underscores, over code points.
//
// insert_word_breaks(text) gives exactly what these two regular-expression
// substitutions give, one after the other:
//   1. "(.)([A-Z][a-z]+)"  ->  "\1_\2"
//   2. "([a-z0-9])([A-Z])" ->  "\1_\2"
// with the usual regex rules: "." is any code point except a line feed, the
// classes are ASCII ranges only, matches are found left to right without
// overlapping and the scan resumes after the end of each match. Lower-casing
// is left to the caller (ascii_lower covers pure-ASCII text).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zunt::text {

namespace camel_detail {

template <class Char>
constexpr bool is_upper(Char c) {
    return c >= Char('A') && c <= Char('Z');
}

template <class Char>
constexpr bool is_lower(Char c) {
    return c >= Char('a') && c <= Char('z');
}

template <class Char>
constexpr bool is_lower_or_digit(Char c) {
    return is_lower(c) || (c >= Char('0') && c <= Char('9'));
}

}  // namespace camel_detail

// Step 1 alone: "(.)([A-Z][a-z]+)" -> "\1_\2".
template <class Char>
std::basic_string<Char> break_before_words(std::basic_string_view<Char> text) {
    using namespace camel_detail;
    std::basic_string<Char> out;
    out.reserve(text.size() + text.size() / 4 + 1);
    const std::size_t n = text.size();
    std::size_t copied = 0;  // text[0, copied) is already in `out`
    std::size_t s = 0;
    // A match needs three code points: any but "\n", an upper, a lower.
    while (s + 2 < n) {
        if (text[s] != Char('\n') && is_upper(text[s + 1]) && is_lower(text[s + 2])) {
            // "[a-z]+" is greedy and nothing follows it, so the match runs to
            // the end of the lower-case run.
            std::size_t e = s + 3;
            while (e < n && is_lower(text[e])) ++e;
            out.append(text.substr(copied, s + 1 - copied));
            out.push_back(Char('_'));
            out.append(text.substr(s + 1, e - (s + 1)));
            copied = e;
            s = e;
        } else {
            ++s;
        }
    }
    out.append(text.substr(copied));
    return out;
}

// Step 2 alone: "([a-z0-9])([A-Z])" -> "\1_\2".
template <class Char>
std::basic_string<Char> break_after_lower(std::basic_string_view<Char> text) {
    using namespace camel_detail;
    std::basic_string<Char> out;
    out.reserve(text.size() + text.size() / 4 + 1);
    const std::size_t n = text.size();
    std::size_t copied = 0;
    std::size_t s = 0;
    while (s + 1 < n) {
        if (is_lower_or_digit(text[s]) && is_upper(text[s + 1])) {
            out.append(text.substr(copied, s + 1 - copied));
            out.push_back(Char('_'));
            out.push_back(text[s + 1]);
            copied = s + 2;
            s += 2;
        } else {
            ++s;
        }
    }
    out.append(text.substr(copied));
    return out;
}

// Both steps, in order.
template <class Char>
std::basic_string<Char> insert_word_breaks(std::basic_string_view<Char> text) {
    std::basic_string<Char> first = break_before_words(text);
    return break_after_lower(std::basic_string_view<Char>(first));
}

// Lower-cases the ASCII letters, leaves every other code unit alone.
template <class Char>
void ascii_lower(std::basic_string<Char>& text) {
    for (Char& c : text) {
        if (camel_detail::is_upper(c)) c = Char(c - Char('A') + Char('a'));
    }
}

// insert_word_breaks then ascii_lower, for pure-ASCII text.
std::string camel_to_snake_ascii(std::string_view text);

}  // namespace zunt::text
