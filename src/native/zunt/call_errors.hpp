// Texts of the host's errors for a bad call of a function, as its own
// functions word them. Pure text: no interpreter needed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zunt::text {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": the host's list of missing names.
std::string join_quoted_names(const std::vector<std::string_view>& names);

// "f() missing 1 required positional argument: 'a'"
// kind is "positional" or "keyword-only".
std::string missing_arguments(std::string_view qualname, std::string_view kind,
                              const std::vector<std::string_view>& names);

// "f() takes from 1 to 2 positional arguments but 3 were given"
// at_least == at_most when the function has no positional defaults.
std::string too_many_positional(std::string_view qualname, std::size_t at_least,
                                std::size_t at_most, std::size_t given,
                                std::size_t kwonly_given);

// "f() got an unexpected keyword argument 'x'"
std::string unexpected_keyword(std::string_view qualname, std::string_view keyword);

// "f() got multiple values for argument 'x'"
std::string multiple_values(std::string_view qualname, std::string_view name);

}  // namespace zunt::text
