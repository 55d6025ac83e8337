
#include <gtest/gtest.h>

#include "text/sha256.h"
#include "text/text_utils.h"

namespace norvane {
namespace {

TEST(FindValue, ReadsCgiAnswerLines) {
    const std::string answer = "return_code=0\r\nrise_alarm=1\r\n";
    EXPECT_EQ(FindValue("return_code", "=", answer, "\r\n"), "0");
    EXPECT_EQ(FindValue("rise_alarm", "=", answer, "\r\n"), "1");
    EXPECT_EQ(FindValue("missing", "=", answer, "\r\n"), "");
}

TEST(FindValue, ValueRunsToEndOfTextWithoutTerminator) {
    EXPECT_EQ(FindValue("timeout", "=", "session: 12ab;timeout=60", ";\r\n"), "60");
    EXPECT_EQ(FindValue("session:", " ", "session: 12ab;timeout=60", ";\r\n"), "12ab");
    EXPECT_EQ(FindValue("session:", " ", "session:12ab", ";\r\n"), "");
}

TEST(FindValue, SkipsOccurrencesWhoseFieldHasNoSeparator) {
    EXPECT_EQ(FindValue("key", "=", "a=key\r\nkey=5", "\r\n"), "5");
    EXPECT_EQ(FindValue("key", "=", "keyboard=1\r\nkey=2", "\r\n"), "2");
}

TEST(FindValue, KeyMatchesTailOfLongerName) {
    EXPECT_EQ(FindValue("alarm", "=", "rise_alarm=1\r\n", "\r\n"), "1");
}

TEST(FindValue, EmptyValueAtEndOrBeforeTerminator) {
    EXPECT_EQ(FindValue("key", "=", "key=", "\r\n"), "");
    EXPECT_EQ(FindValue("key", "=", "key=\r\nother=1", "\r\n"), "");
}

TEST(FindValue, KeepsBlankAfterSeparatorAndTrimsName) {
    EXPECT_EQ(FindValue("return_code", "=", " return_code = 0x00000000\r\n", "\r\n"),
              " 0x00000000");
}

TEST(FindValue, EmptyArgumentsGiveEmpty) {
    EXPECT_EQ(FindValue("", "=", "a=1", "\r\n"), "");
    EXPECT_EQ(FindValue("a", "", "a=1", "\r\n"), "");
    EXPECT_EQ(FindValue("a", "=", "a=1", ""), "");
}

TEST(FindValue, QuotedParametersWithCommaTerminators) {
    const std::string challenge = "WWW-Authenticate: Digest realm=cam, nonce=abc123, stale=false";
    EXPECT_EQ(FindValue("realm", "=", challenge, ", \r\n"), "cam");
    EXPECT_EQ(FindValue("nonce", "=", challenge, ", \r\n"), "abc123");
}

TEST(FormatNumber, WholeValuesAsIntegersOthersWithOneDecimal) {
    EXPECT_EQ(FormatNumber(25.0F), "25");
    EXPECT_EQ(FormatNumber(7.5F), "7.5");
    EXPECT_EQ(FormatNumber(8.3F), "8.3");
    EXPECT_EQ(FormatNumber(12.5F), "12.5");
    EXPECT_EQ(FormatNumber(0.0F), "0");
    EXPECT_EQ(FormatNumber(-2.0F), "-2.0");
}

TEST(ParseInt, AcceptsSignedDecimalOnly) {
    struct Case {
        const char* text;
        bool ok;
        std::int32_t value;
    };

    const Case cases[] = {
            {"42", true, 42},
            {"-7", true, -7},
            {"+0", true, 0},
            {"", false, 0},
            {"-", false, 0},
            {"+", false, 0},
            {" 1", false, 0},
            {"1 ", false, 0},
            {"12a", false, 0},
            {"0x10", false, 0},
            {"-2147483648", true, INT32_MIN},
            {"2147483647", true, INT32_MAX},
            {"99999999999999999999", true, INT32_MAX},
            {"-99999999999999999999", true, INT32_MIN},
    };
    for (const Case& c : cases) {
        std::int32_t value = 99;
        EXPECT_EQ(ParseInt(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(SplitList, KeepsInnerEmptyFieldsDropsTrailingComma) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitList("a,b"), (V{"a", "b"}));
    EXPECT_EQ(SplitList("a,,b"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitList("a,b,"), (V{"a", "b"}));
    EXPECT_EQ(SplitList(",a"), (V{"", "a"}));
    EXPECT_EQ(SplitList(""), V{});
    EXPECT_EQ(SplitList(" a , b"), (V{" a ", " b"}));
}

TEST(RateFromInterval, RoundsHalfUpAndZeroIsOne) {
    EXPECT_EQ(RateFromInterval(40), 25U);
    EXPECT_EQ(RateFromInterval(133), 8U);
    EXPECT_EQ(RateFromInterval(3), 333U);
    EXPECT_EQ(RateFromInterval(0), 1U);
    EXPECT_EQ(RateFromInterval(80), 13U); // 12.5 rounds up
}

TEST(TextCase, FoldsAsciiLettersOnly) {
    EXPECT_EQ(ToLower("CSeq: 5 \xC4"), "cseq: 5 \xC4");
    EXPECT_EQ(ToUpper("12ab-z\xE4"), "12AB-Z\xE4");
}

TEST(Trim, BlanksAndTabsOnly) {
    EXPECT_EQ(Trim(" \tabc \t"), "abc");
    EXPECT_EQ(Trim("abc\r\n"), "abc\r\n");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim(""), "");
}

TEST(RemoveChars, RemovesEveryOccurrence) {
    EXPECT_EQ(RemoveChars("realm=\"a b\", nonce=\"x\"", "\""), "realm=a b, nonce=x");
    EXPECT_EQ(RemoveChars("abc", ""), "abc");
}

TEST(FormatString, HasNoLengthLimit) {
    const std::string big(100000, 'x');
    EXPECT_EQ(FormatString("%s-%d", big.c_str(), 7), big + "-7");
    EXPECT_EQ(FormatString("%s", ""), "");
}

TEST(Sha256Hex, MatchesFips180Examples) {
    struct Case {
        std::string text;
        const char* digest;
    };

    // FIPS 180-4 examples (NIST CSRC); lengths around the padding limit from Python's hashlib.
    const Case cases[] = {
            {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
            {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
            {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
             "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
            {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmno"
             "pqr"
             "lmnopqrsmnopqrstnopqrstu",
             "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
            {std::string(1000000, 'a'),
             "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
            {std::string(55, 'x'),
             "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
            {std::string(56, 'x'),
             "04c26261370ee7541549d16dee320c723e3fd14671e66a099afe0a377c16888e"},
            {std::string(63, 'x'),
             "75220b47218278e656f2013bb8f0c455a25eaf01e86c64924e9d48d89776d6f2"},
            {std::string(64, 'x'),
             "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Sha256Hex(c.text), c.digest) << c.text.size() << " bytes";
    }
}

} // namespace
} // namespace norvane
