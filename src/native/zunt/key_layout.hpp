// The text layout of client API keys and user keys: a prefix, then three
// segments (id, name, secret) separated by a delimiter. Reading skips the
// prefix by its length in code points without comparing it, and splits the
// rest at every delimiter, as the host's str.split(delimiter) does.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zunt::keys {

// `utf8` without its first `count` code points; empty when it has no more.
std::string_view drop_code_points(std::string_view utf8, std::size_t count);

// Every piece between occurrences of a non-empty delimiter, empty pieces
// included (str.split with a separator). The text and the delimiter must be
// valid UTF-8, so that a byte match is a code-point match.
std::vector<std::string_view> split_all(std::string_view text, std::string_view delimiter);

// prefix + id + delimiter + name + delimiter + secret
std::string join_key(std::string_view prefix, std::string_view id_segment, std::string_view name_segment,
                     std::string_view secret, std::string_view delimiter);

// a == b, in a time that depends on the lengths only, never on where the two
// first differ.
bool constant_time_equal(std::string_view a, std::string_view b);

}  // namespace zunt::keys
