// The two ways of writing the bytes to send: text with escapes, and hexadecimal.
#include <gtest/gtest.h>

#include <string>

#include "net/send_text.h"
#include "words.h"

namespace {

SentText read(const std::string& text, SendSyntax syntax) {
    return readSendText(text, syntax);
}

// The bytes a text gives, or its problem after "refused: ".
std::string outcome(const std::string& text, SendSyntax syntax) {
    const SentText got = read(text, syntax);
    return got.ok ? got.bytes : "refused: " + sendTextSummary(got);
}

TEST(SendSyntax, TextIsItsBytesWithTheEscapesAndNothingElse) {
    EXPECT_EQ("AT+GMR", outcome("AT+GMR", SEND_AS_TEXT)) << "no line end is added";
    EXPECT_EQ(std::string("\r\n\t\0\x1b\\", 6), outcome("\\r\\n\\t\\0\\e\\\\", SEND_AS_TEXT));
    EXPECT_EQ(std::string("\x02" "A\xff" "b\x00", 5), outcome("\\x02A\\xFFb\\x00", SEND_AS_TEXT));
    EXPECT_EQ("\xab\xcd", outcome("\\xab\\xCd", SEND_AS_TEXT));
    EXPECT_EQ("\\x41", outcome("\\\\x41", SEND_AS_TEXT)) << "an escaped backslash ends there";
    EXPECT_EQ("\xe9t\xe9", outcome(u8"\u00e9t\u00e9", SEND_AS_TEXT)) << "a character is its byte in the code page";
    EXPECT_EQ("", outcome("", SEND_AS_TEXT));

    EXPECT_EQ("refused: \\x sans deux chiffres hexadecimaux en position 1", outcome("\\x4", SEND_AS_TEXT));
    EXPECT_EQ("refused: \\x sans deux chiffres hexadecimaux en position 3", outcome("ab\\xg1", SEND_AS_TEXT));
    EXPECT_EQ("refused: \\x sans deux chiffres hexadecimaux en position 1", outcome("\\x", SEND_AS_TEXT));
    EXPECT_EQ("refused: sequence \\q inconnue en position 4", outcome("abc\\q", SEND_AS_TEXT));
    EXPECT_EQ("refused: sequence \\R inconnue en position 1", outcome("\\R", SEND_AS_TEXT)) << "escapes are small letters";
    EXPECT_EQ("refused: sequence \\0x01 inconnue en position 1", outcome(std::string("\\\x01", 2), SEND_AS_TEXT));
    EXPECT_EQ("refused: \\ seul en fin de texte en position 3", outcome("ab\\", SEND_AS_TEXT));
}

// The text box is Unicode: each character becomes its code page bytes on its own,
// and one the code page lacks is refused where it stands, never sent as another.
TEST(SendSyntax, TextIsReadCharacterByCharacterAndACharacterTheCodePageLacksIsRefused) {
    EXPECT_EQ("refused: caractere U+03A9 absent de la page de code en position 2",
              outcome(u8"a\u03a9b", SEND_AS_TEXT));
    EXPECT_EQ("refused: caractere U+01F600 absent de la page de code en position 1",
              outcome(u8"\U0001F600", SEND_AS_TEXT));
    // A double-byte character whose second byte is a backslash starts no escape.
    EXPECT_EQ("\x95\x5cn", outcome(u8"\u8868n", SEND_AS_TEXT));
    EXPECT_EQ("\x95\x5c\n", outcome(u8"\u8868\\n", SEND_AS_TEXT));
    EXPECT_EQ("\x80\x9f", outcome("\\x80\\x9F", SEND_AS_TEXT)) << "an escape's byte is never converted";
    // Places are counted in characters.
    EXPECT_EQ("refused: sequence \\q inconnue en position 3", outcome(u8"a\u00e9\\q", SEND_AS_TEXT));
    EXPECT_EQ("refused: caractere U+00E9 invalide en position 3", outcome(u8"12\u00e9", SEND_AS_HEX));
    // What is not UTF-8 cannot have come from the box: it is refused, not guessed at.
    EXPECT_EQ("refused: texte illisible (UTF-8) en position 2", outcome("a\xe9t", SEND_AS_TEXT));
}

// Where each kind of wrong UTF-8 is found, and what right UTF-8 gives.
TEST(SendSyntax, Utf8IsDecodedOrItsFirstWrongCharacterIsFound) {
    struct Case {
        const char* bytes;
        std::size_t wrongAt;  // npos: right
        std::u32string characters;
    };
    const std::size_t right = std::string::npos;
    const Case cases[] = {
        {"", right, U""},
        {"A\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", right, U"A\u00e9\u20ac\U0001F600"},
        {"\xf4\x8f\xbf\xbf", right, U"\U0010FFFF"},
        {"ab\x80", 2, U""},                  // a continuation byte alone
        {"\xc0\x80", 0, U""},               // an overlong NUL
        {"\xe0\x80\xaf", 0, U""},          // an overlong slash
        {"x\xed\xa0\x80", 1, U""},         // a surrogate
        {"\xf4\x90\x80\x80", 0, U""},     // past U+10FFFF
        {"\xe2\x82", 0, U""},               // cut short
        {"\xe2\x28\xa1", 0, U""},          // a lead without its continuation
        {"\xff", 0, U""},
    };
    for (const Case& c : cases) {
        std::u32string got;
        std::size_t wrongAt = right;
        const bool ok = decodeUtf8(c.bytes, &got, &wrongAt);
        EXPECT_EQ(c.wrongAt == right, ok) << c.bytes;
        if (ok) EXPECT_TRUE(got == c.characters) << c.bytes;
        else EXPECT_EQ(c.wrongAt, wrongAt) << c.bytes;
    }
}

TEST(SendSyntax, HexadecimalIsPairsOfDigitsWithSeparatorsBetweenBytes) {
    EXPECT_EQ(std::string("\x20\x02\x00\x00", 4), outcome("20 02 00 00", SEND_AS_HEX));
    EXPECT_EQ(std::string("\x20\x02\x00\x00", 4), outcome("20020000", SEND_AS_HEX));
    EXPECT_EQ("\xde\xad\xbe\xef\x01", outcome(" de:AD,be-EF\t0x01 ", SEND_AS_HEX));
    EXPECT_EQ("\x10\x0c", outcome("0x100X0c", SEND_AS_HEX));
    EXPECT_EQ("", outcome(" , : - ", SEND_AS_HEX));

    EXPECT_EQ("refused: chiffre hexadecimal seul en position 3", outcome("ABC", SEND_AS_HEX));
    EXPECT_EQ("refused: chiffre hexadecimal seul en position 1", outcome("A BC", SEND_AS_HEX))
        << "a byte's two digits are not parted";
    EXPECT_EQ("refused: caractere G invalide en position 4", outcome("12 G4", SEND_AS_HEX));
    EXPECT_EQ("refused: caractere z invalide en position 2", outcome("1z", SEND_AS_HEX));
    EXPECT_EQ("refused: 0x sans octet apres en position 4", outcome("01 0x", SEND_AS_HEX));
    EXPECT_EQ("refused: 0x sans octet apres en position 1", outcome("0x 12", SEND_AS_HEX));
    EXPECT_EQ("refused: caractere \\ invalide en position 1", outcome("\\x41", SEND_AS_HEX));
}

TEST(SendSyntax, TheLineSaysHowManyBytesOrWhatIsWrong) {
    EXPECT_EQ("4 octets", sendTextSummary(read("\\x10\\x0C\\x00\\x04", SEND_AS_TEXT)));
    EXPECT_EQ("1 octet", sendTextSummary(read("\\x10", SEND_AS_TEXT)));
    EXPECT_EQ("0 octet", sendTextSummary(read("", SEND_AS_HEX)));
    EXPECT_EQ("1 octet recu", countInWords(1, "octet recu"));
    EXPECT_EQ("2 octets envoyes", countInWords(2, "octet envoye"));
    EXPECT_EQ("1 048 576 octets recus", countInWords(1048576, "octet recu"));
    EXPECT_EQ("chiffre hexadecimal seul en position 3", sendTextSummary(read("ABC", SEND_AS_HEX)));
    EXPECT_EQ("1 234 567", groupedCount(1234567));
    EXPECT_EQ("10 000 000", groupedCount(10000000));
    EXPECT_EQ("999", groupedCount(999));
    EXPECT_EQ("1 000", groupedCount(1000));
    EXPECT_EQ("0", groupedCount(0));
    EXPECT_EQ("18 446 744 073 709 551 615", groupedCount(~0ull));
}

TEST(SendSyntax, TheTextsSentAreKeptNewestFirstOnceEachWithTheirSyntax) {
    forgetSentTexts();
    rememberSentText("20 02 00 00", SEND_AS_HEX);
    rememberSentText("AT\\r", SEND_AS_TEXT);
    rememberSentText("20 02 00 00", SEND_AS_TEXT);  // the same text, the other way: another entry
    rememberSentText("20 02 00 00", SEND_AS_HEX);   // sent again: the newest, once
    ASSERT_EQ(3u, sentTexts().size());
    EXPECT_EQ("20 02 00 00", sentTexts()[0].text);
    EXPECT_EQ(SEND_AS_HEX, sentTexts()[0].syntax);
    EXPECT_EQ(SEND_AS_TEXT, sentTexts()[1].syntax);
    EXPECT_EQ("AT\\r", sentTexts()[2].text);
    for (int n = 0; n < 30; ++n) rememberSentText(std::to_string(n), SEND_AS_TEXT);
    ASSERT_EQ(SENT_TEXTS_KEPT, sentTexts().size());
    EXPECT_EQ("29", sentTexts().front().text);
    EXPECT_EQ("10", sentTexts().back().text);
    forgetSentTexts();
}

}  // namespace
