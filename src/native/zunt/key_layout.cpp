#include "zunt/key_layout.hpp"

namespace zunt::keys {

std::string_view drop_code_points(std::string_view utf8, std::size_t count) {
    std::size_t i = 0;
    for (std::size_t seen = 0; seen < count && i < utf8.size(); ++seen) {
        ++i;
        // Continuation bytes (10xxxxxx) belong to the code point just begun.
        while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
    }
    return utf8.substr(i);
}

std::vector<std::string_view> split_all(std::string_view text, std::string_view delimiter) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(delimiter, start);
        if (at == std::string_view::npos) break;
        pieces.push_back(text.substr(start, at - start));
        start = at + delimiter.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string join_key(std::string_view prefix, std::string_view id_segment, std::string_view name_segment,
                     std::string_view secret, std::string_view delimiter) {
    std::string key;
    key.reserve(prefix.size() + id_segment.size() + name_segment.size() + secret.size() + 2 * delimiter.size());
    key.append(prefix).append(id_segment).append(delimiter).append(name_segment).append(delimiter).append(secret);
    return key;
}

bool constant_time_equal(std::string_view a, std::string_view b) {
    // Walk the second text whole whatever the first holds; the lengths are
    // not secret.
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < b.size(); ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        diff |= static_cast<unsigned char>(x ^ static_cast<unsigned char>(b[i]));
    }
    volatile unsigned char result = diff;
    return result == 0;
}

}  // namespace zunt::keys
