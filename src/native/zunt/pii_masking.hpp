// The masking's ways and knobs, for its own tests: which way a call took, the
// hash of its index keys and its memory budget.
#pragma once

#include "zunt/pii_patterns.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zunt::pii {

// Maps a text's polynomial hash (salted) to the key of an index slot.
using KeyHash = std::uint64_t (*)(std::uint64_t);

struct MaskingTuning {
    KeyHash key_hash = nullptr;  // nullptr: the built-in mixer
    // What the one-pass masking's occurrences and look-ups may take, in bytes:
    // so much per code unit of the text, plus a fixed allowance. Past it each
    // found text is looked for anew (MaskRoute::searched).
    std::size_t bytes_per_unit = 16;
    std::size_t bytes_fixed = std::size_t{1} << 16;
};

enum class MaskRoute {
    one_pass,      // from the occurrences of all found texts, found in one walk
    searched,      // the same steps, each looking for its found text anew (past the memory budget)
    step_by_step,  // str.replace one found text after the other (the form or a found text rules out the others)
};

// mask() for the found spans of `row`'s pattern in `text` (non-empty,
// left to right, not overlapping): writes the masked text to `out` and tells
// which way it took.
template <class Char>
MaskRoute mask_spans(const PatternRow& row, const MaskForm& form, std::basic_string_view<Char> text,
                     const CharClasses& classes, const std::vector<Span>& spans, std::basic_string<Char>& out,
                     const MaskingTuning& tuning);

}  // namespace zunt::pii
