#include "zunt/base64url.hpp"

#include <array>
#include <cstdint>

namespace zunt::codec {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr std::uint8_t not_a_digit = 0xff;

// Digit values of both the standard and the URL-safe alphabet.
constexpr std::array<std::uint8_t, 256> make_digit_table() {
    std::array<std::uint8_t, 256> table{};
    for (auto& v : table) v = not_a_digit;
    for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
    table[static_cast<unsigned char>('+')] = 62;
    table[static_cast<unsigned char>('/')] = 63;
    return table;
}

constexpr std::array<std::uint8_t, 256> digit_value = make_digit_table();

}  // namespace

std::string base64url_encode_unpadded(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto byte = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k])); };
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out.push_back(alphabet[group >> 18 & 63]);
        out.push_back(alphabet[group >> 12 & 63]);
        out.push_back(alphabet[group >> 6 & 63]);
        out.push_back(alphabet[group & 63]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        std::uint32_t group = byte(i) << 16;
        out.push_back(alphabet[group >> 18 & 63]);
        out.push_back(alphabet[group >> 12 & 63]);
    } else if (rest == 2) {
        std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8;
        out.push_back(alphabet[group >> 18 & 63]);
        out.push_back(alphabet[group >> 12 & 63]);
        out.push_back(alphabet[group >> 6 & 63]);
    }
    return out;
}

Base64Decoded base64url_decode_lenient(std::string_view ascii, std::size_t extra_padding) {
    Base64Decoded result;
    std::string& out = result.bytes;
    out.reserve((ascii.size() + 3) / 4 * 3);
    int quad_pos = 0;
    int pads = 0;
    std::uint8_t left = 0;
    const std::size_t total = ascii.size() + extra_padding;
    for (std::size_t i = 0; i < total; ++i) {
        const unsigned char ch = i < ascii.size() ? static_cast<unsigned char>(ascii[i]) : '=';
        if (ch == '=') {
            // A pad closes the group once at least two data characters are in
            // it and the pads seen since the last one fill it up.
            if (quad_pos >= 2 && quad_pos + ++pads >= 4) return result;
            continue;
        }
        const std::uint8_t v = digit_value[ch];
        if (v == not_a_digit) continue;
        pads = 0;
        switch (quad_pos) {
            case 0:
                left = v;
                quad_pos = 1;
                break;
            case 1:
                out.push_back(static_cast<char>(left << 2 | v >> 4));
                left = v & 0x0f;
                quad_pos = 2;
                break;
            case 2:
                out.push_back(static_cast<char>(left << 4 | v >> 2));
                left = v & 0x03;
                quad_pos = 3;
                break;
            default:
                out.push_back(static_cast<char>(left << 6 | v));
                left = 0;
                quad_pos = 0;
                break;
        }
    }
    if (quad_pos == 1) {
        result.error = Base64Error::lone_data_character;
        result.data_characters = out.size() / 3 * 4 + 1;
        out.clear();
    } else if (quad_pos != 0) {
        result.error = Base64Error::incorrect_padding;
        out.clear();
    }
    return result;
}

std::string base64_error_message(const Base64Decoded& result) {
    switch (result.error) {
        case Base64Error::lone_data_character:
            return "Invalid base64-encoded string: number of data characters (" +
                   std::to_string(result.data_characters) + ") cannot be 1 more than a multiple of 4";
        case Base64Error::incorrect_padding:
            return "Incorrect padding";
        case Base64Error::none:
            break;
    }
    return {};
}

}  // namespace zunt::codec
