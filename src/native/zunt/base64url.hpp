// URL-safe base64 as the authentication keys carry it: encoded without "="
// padding, decoded as leniently as the host's urlsafe_b64decode, with the
// same results and the same failures.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zunt::codec {

// RFC 4648 section 5 alphabet ("-" and "_"), every "=" left off.
std::string base64url_encode_unpadded(std::string_view bytes);

enum class Base64Error {
    none,
    // One data character more than a multiple of four.
    lone_data_character,
    // The last group was neither complete nor closed by enough "=".
    incorrect_padding,
};

struct Base64Decoded {
    Base64Error error = Base64Error::none;
    std::string bytes;         // the decoded bytes when error is none
    std::size_t data_characters = 0;  // for lone_data_character: as the host counts them
};

// Decodes ASCII text followed by `extra_padding` "=" characters, the way the
// host's urlsafe_b64decode does without validation: "-" and "_" read as "+"
// and "/" (which are accepted too), characters outside the alphabet skipped,
// decoding stops once a group is closed by "=", and surplus "=" is ignored.
Base64Decoded base64url_decode_lenient(std::string_view ascii, std::size_t extra_padding = 0);

// The host's message for a failed decode (binascii.Error).
std::string base64_error_message(const Base64Decoded& result);

// How many "=" the authentication keys' decoder appends to a text of this
// many characters: 4 - (length mod 4), so 1 to 4, never 0.
constexpr std::size_t key_padding_for(std::size_t length) { return 4 - length % 4; }

}  // namespace zunt::codec
