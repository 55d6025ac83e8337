#include <array>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "text/base64.h"

namespace norvane {
namespace {

std::string Encode(std::string_view plain) {
    std::array<char, 256> buffer{};
    std::size_t count = 0;
    EXPECT_TRUE(Base64Encode({reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()},
                             buffer, count));
    return {buffer.data(), count};
}

TEST(Base64Encode, MatchesRfc4648Vectors) {
    struct Case {
        const char* plain;
        const char* encoded;
    };

    const Case cases[] = {{"", ""},
                          {"f", "Zg=="},
                          {"fo", "Zm8="},
                          {"foo", "Zm9v"},
                          {"foob", "Zm9vYg=="},
                          {"fooba", "Zm9vYmE="},
                          {"foobar", "Zm9vYmFy"}};
    for (const Case& c : cases) {
        EXPECT_EQ(Encode(c.plain), c.encoded) << c.plain;
    }
}

TEST(Base64Encode, CapacityRule) {
    EXPECT_EQ(Base64EncodedLength(72), 100);
    EXPECT_EQ(Base64EncodedLength(73), 104);
    EXPECT_EQ(Base64EncodedLength(0), 2);
    EXPECT_EQ(Base64EncodedLength(std::size_t{1} << 31), -1);
    std::array<char, 100> buffer{};
    std::size_t count = 0;
    const std::string plain(73, 'p');
    EXPECT_FALSE(Base64Encode({reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()},
                              buffer, count));
    EXPECT_EQ(count, 0U);
}

TEST(Base64Decode, DecodesRfc4648VectorsAndSkipsOtherCharacters) {
    struct Case {
        const char* text;
        const char* plain;
    };

    // RFC 4648, section 10.
    const Case cases[] = {{"", ""},
                          {"Zg==", "f"},
                          {"Zm8=", "fo"},
                          {"Zm9v", "foo"},
                          {"Zm9vYg==", "foob"},
                          {"Zm9vYmE=", "fooba"},
                          {"Zm9vYmFy", "foobar"},
                          {"Zm9v\r\nYmFy", "foobar"},
                          {"Zm9vY", "foo"}};
    for (const Case& c : cases) {
        std::array<std::uint8_t, 16> buffer{};
        std::size_t count = 0;
        ASSERT_TRUE(Base64Decode(c.text, buffer, count)) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), count), c.plain);
    }
}

TEST(Base64Decode, RefusesBeyondCapacityButCountsAll) {
    std::array<std::uint8_t, 4> buffer{};
    std::size_t count = 0;
    EXPECT_FALSE(Base64Decode("Zm9vYmFy", buffer, count));
    EXPECT_EQ(count, 6U);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), 3), "foo");
    EXPECT_EQ(buffer[3], 0); // nothing of the refused group was written
}

} // namespace
} // namespace norvane
