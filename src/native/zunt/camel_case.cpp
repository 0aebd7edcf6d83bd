#include "zunt/camel_case.hpp"

namespace zunt::text {

std::string camel_to_snake_ascii(std::string_view text) {
    std::string out = insert_word_breaks(text);
    ascii_lower(out);
    return out;
}

}  // namespace zunt::text
