// Fuzzes the two ways of writing the bytes to send with arbitrary text.
//
// The text is UTF-8, as the dialog hands it on; arbitrary bytes are mostly not.
// Each way either gives bytes or names a problem at a place within the text. What
// it gives is checked against the text written back from those bytes: as \xHH
// escapes for the text way, as pairs of digits for the hexadecimal way; each must
// read back to the same bytes. No byte is ever made from nothing: the text way gives
// at most a byte a character (with this platform's one-byte code page), the
// hexadecimal way at most one for two. Right UTF-8 is written back the same from
// its characters.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/send_text.h"
#include "words.h"

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "send text: %s\n", what);
    std::abort();
}

const char DIGITS[] = "0123456789abcdef";

std::string asEscapes(const std::string& bytes) {
    std::string text;
    for (unsigned char b : bytes) text += std::string("\\x") + DIGITS[b >> 4] + DIGITS[b & 15];
    return text;
}

std::string asPairs(const std::string& bytes) {
    std::string text;
    for (unsigned char b : bytes) text += std::string(text.empty() ? "" : ", 0x") + DIGITS[b >> 4] + DIGITS[b & 15];
    return text;
}

// A problem names a place within the text.
void checkProblem(const SentText& read, std::size_t length) {
    if (read.problem.empty()) fail("a problem without its words");
    if (read.problemAt >= length) fail("a place outside the text");
    if (!read.bytes.empty()) fail("bytes beside a problem");
}

void checkWay(const std::string& text, SendSyntax syntax) {
    const std::size_t length = text.size();
    const SentText read = readSendText(text, syntax);
    if (!read.ok) {
        checkProblem(read, length);
        return;
    }
    if (syntax == SEND_AS_TEXT ? read.bytes.size() > length : read.bytes.size() > length / 2) {
        fail("more bytes than the text can give");
    }
    const std::string back = syntax == SEND_AS_TEXT ? asEscapes(read.bytes) : asPairs(read.bytes);
    const SentText again = readSendText(back, syntax);
    if (!again.ok || again.bytes != read.bytes) fail("the bytes written back read otherwise");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    checkWay(text, SEND_AS_TEXT);
    checkWay(text, SEND_AS_HEX);
    std::u32string characters;
    std::size_t wrongAt = 0;
    if (decodeUtf8(text, &characters, &wrongAt)) {
        std::string back;
        for (char32_t c : characters) appendUtf8(c, &back);
        if (back != text) fail("UTF-8 written back from its characters differs");
    } else if (wrongAt > size) {
        fail("a wrong character past the text");
    }
    return 0;
}
