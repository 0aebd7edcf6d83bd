#include "zunt/call_errors.hpp"

namespace zunt::text {

namespace {

void append_quoted(std::string& out, std::string_view name) {
    out += '\'';
    out += name;
    out += '\'';
}

}  // namespace

std::string join_quoted_names(const std::vector<std::string_view>& names) {
    std::string out;
    const std::size_t n = names.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) {
            if (n == 2) {
                out += " and ";
            } else if (i + 1 == n) {
                out += ", and ";
            } else {
                out += ", ";
            }
        }
        append_quoted(out, names[i]);
    }
    return out;
}

std::string missing_arguments(std::string_view qualname, std::string_view kind,
                              const std::vector<std::string_view>& names) {
    std::string out(qualname);
    out += "() missing ";
    out += std::to_string(names.size());
    out += " required ";
    out += kind;
    out += names.size() == 1 ? " argument: " : " arguments: ";
    out += join_quoted_names(names);
    return out;
}

std::string too_many_positional(std::string_view qualname, std::size_t at_least,
                                std::size_t at_most, std::size_t given,
                                std::size_t kwonly_given) {
    std::string out(qualname);
    out += "() takes ";
    bool plural;
    if (at_least != at_most) {
        plural = true;
        out += "from " + std::to_string(at_least) + " to " + std::to_string(at_most);
    } else {
        plural = at_most != 1;
        out += std::to_string(at_most);
    }
    out += plural ? " positional arguments but " : " positional argument but ";
    out += std::to_string(given);
    if (kwonly_given > 0) {
        out += given != 1 ? " positional arguments" : " positional argument";
        out += " (and " + std::to_string(kwonly_given);
        out += kwonly_given != 1 ? " keyword-only arguments)" : " keyword-only argument)";
    }
    out += (given == 1 && kwonly_given == 0) ? " was given" : " were given";
    return out;
}

std::string unexpected_keyword(std::string_view qualname, std::string_view keyword) {
    std::string out(qualname);
    out += "() got an unexpected keyword argument ";
    append_quoted(out, keyword);
    return out;
}

std::string multiple_values(std::string_view qualname, std::string_view name) {
    std::string out(qualname);
    out += "() got multiple values for argument ";
    append_quoted(out, name);
    return out;
}

}  // namespace zunt::text
