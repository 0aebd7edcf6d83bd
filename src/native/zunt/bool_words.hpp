// The words a boolean setting may be written as, after lower-casing.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace zunt::text {

inline constexpr std::array<std::string_view, 4> true_words{"true", "yes", "1", "on"};
inline constexpr std::array<std::string_view, 4> false_words{"false", "no", "0", "off"};

// true for a true word, false for a false word, nothing for any other text.
// Whole-text, exact comparison; the text is expected lower-cased already.
std::optional<bool> parse_bool_word(std::string_view lowered);

}  // namespace zunt::text
