#include "zunt/bool_words.hpp"

namespace zunt::text {

std::optional<bool> parse_bool_word(std::string_view lowered) {
    for (std::string_view word : true_words) {
        if (lowered == word) return true;
    }
    for (std::string_view word : false_words) {
        if (lowered == word) return false;
    }
    return std::nullopt;
}

}  // namespace zunt::text
