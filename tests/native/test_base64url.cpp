#include "zunt/base64url.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace zunt::codec;

namespace {

std::string decode_ok(std::string_view text, std::size_t pad) {
    Base64Decoded r = base64url_decode_lenient(text, pad);
    EXPECT_EQ(r.error, Base64Error::none) << text;
    return r.bytes;
}

}  // namespace

TEST(Base64Url, EncodesWithoutPadding) {
    EXPECT_EQ(base64url_encode_unpadded(""), "");
    EXPECT_EQ(base64url_encode_unpadded("a"), "YQ");
    EXPECT_EQ(base64url_encode_unpadded("ab"), "YWI");
    EXPECT_EQ(base64url_encode_unpadded("abc"), "YWJj");
    EXPECT_EQ(base64url_encode_unpadded("a?b>c~"), "YT9iPmN-");
    EXPECT_EQ(base64url_encode_unpadded(std::string("\xff\xfe\x00", 3)), "__4A");
}

TEST(Base64Url, KeyPaddingIsOneToFour) {
    EXPECT_EQ(key_padding_for(0), 4u);
    EXPECT_EQ(key_padding_for(1), 3u);
    EXPECT_EQ(key_padding_for(2), 2u);
    EXPECT_EQ(key_padding_for(3), 1u);
    EXPECT_EQ(key_padding_for(4), 4u);
}

TEST(Base64Url, DecodesLeniently) {
    EXPECT_EQ(decode_ok("YWJj", 4), "abc");
    EXPECT_EQ(decode_ok("YQ", 2), "a");
    EXPECT_EQ(decode_ok("YQ==", 4), "a");
    EXPECT_EQ(decode_ok("", 4), "");
    EXPECT_EQ(decode_ok("YT9iPmN-", 4), "a?b>c~");
    EXPECT_EQ(decode_ok("YT9iPmN+", 4), "a?b>c~");  // the standard alphabet is read too
    EXPECT_EQ(decode_ok("Y W*J.j", 1), "abc");      // characters outside the alphabet are skipped
    EXPECT_EQ(decode_ok("YW=Jj", 3), "abc");        // a lone pad inside a group is ignored
    EXPECT_EQ(decode_ok("YQ==YWJj", 4), "a");       // decoding stops at a closed group
    EXPECT_EQ(decode_ok("_w", 2), "\xff");
}

TEST(Base64Url, FailsLikeTheHost) {
    Base64Decoded one = base64url_decode_lenient("Y", 3);
    EXPECT_EQ(one.error, Base64Error::lone_data_character);
    EXPECT_EQ(base64_error_message(one),
              "Invalid base64-encoded string: number of data characters (1) cannot be 1 more than a multiple of 4");

    Base64Decoded five = base64url_decode_lenient("YWJjY", 3);
    EXPECT_EQ(base64_error_message(five),
              "Invalid base64-encoded string: number of data characters (5) cannot be 1 more than a multiple of 4");

    Base64Decoded padding = base64url_decode_lenient("a=b=", 0);
    EXPECT_EQ(padding.error, Base64Error::incorrect_padding);
    EXPECT_EQ(base64_error_message(padding), "Incorrect padding");
    EXPECT_TRUE(padding.bytes.empty());
}
