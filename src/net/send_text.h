// What the person writes in the send dialog, and the bytes it gives.
//
// Text: each character is one byte, as a typed key is, except the escapes \xHH (two
// hexadecimal digits, either case), \r, \n, \t, \0, \e and \\. Hexadecimal: pairs of
// digits, with blanks, commas, colons and hyphens between bytes and a 0x before a
// byte allowed. Anything else is refused, saying what and where.
#ifndef ORU_SEND_TEXT_H
#define ORU_SEND_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum SendSyntax { SEND_AS_TEXT, SEND_AS_HEX };

struct SentText {
    bool ok;
    std::string bytes;    // the bytes the text gives, when ok
    std::string problem;  // what is wrong and where (positions from 1), when not
};

SentText readSendText(const char* text, std::size_t length, SendSyntax syntax);
// Whether a text read so can be sent: it is right and gives at least one byte.
inline bool textGivesBytes(const SentText& read) {
    return read.ok && !read.bytes.empty();
}

// A count of bytes with its thousands set apart by blanks: "1 234 567".
std::string groupedCount(std::uint64_t count);
// What the dialog's line says of a text: "4 octets", or what is wrong.
std::string sendTextSummary(const SentText& read);
// What it says when the bytes do not fit in the room left for bytes to send.
std::string noRoomSummary(std::size_t bytes, std::size_t room);

// ---- the texts sent in this run --------------------------------------------------------
const std::size_t SENT_TEXTS_KEPT = 20;
struct SentEntry {
    std::string text;
    SendSyntax syntax;
};
// A text was sent: it becomes the newest of the texts kept, once only with its
// syntax; the oldest goes past SENT_TEXTS_KEPT.
void rememberSentText(const std::string& text, SendSyntax syntax);
// Newest first.
const std::vector<SentEntry>& sentTexts();
void forgetSentTexts();

#endif
