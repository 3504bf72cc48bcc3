// What the person writes in the send dialog, and the bytes it gives.
//
// The text is Unicode (UTF-8 here), read character by character. Text: each
// character is its bytes in Windows' ANSI code page, as a typed key is, except the
// escapes \xHH (two hexadecimal digits, either case), \r, \n, \t, \0, \e and \\,
// whose bytes are taken as they are; a character the code page has no byte for is
// refused. Hexadecimal: pairs of digits, with blanks, commas, colons and hyphens
// between bytes and a 0x before a byte allowed. Anything else is refused, saying
// what and where (positions in characters, from 1).
#ifndef ORU_SEND_TEXT_H
#define ORU_SEND_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum SendSyntax { SEND_AS_TEXT, SEND_AS_HEX };
// What hexadecimal may hold beside bytes: nothing (the send dialog); `??`, any one
// byte (a reply rule's pattern); `$N`, the byte the N-th `??` of the pattern matched
// (a reply rule's reply).
enum HexExtras { HEX_BYTES_ONLY, HEX_ANY_BYTE, HEX_MATCHED_BYTE };
// In SentText::marks: a byte given as it is, or any byte (`??`); a `$N` is N.
const int MARK_BYTE = 0;
const int MARK_ANY = -1;

struct SentText {
    bool ok;
    std::string bytes;       // the bytes the text gives, when ok (0 where a mark stands)
    std::vector<int> marks;  // with extras: what each byte is (MARK_BYTE, MARK_ANY, N)
    std::string problem;     // what is wrong, when not
    std::size_t problemAt;   // and where: its character, from 0
};

SentText readSendText(const std::string& text, SendSyntax syntax);
// The same reading of characters already decoded, with the extras hexadecimal may
// hold.
SentText readSendCharacters(const std::u32string& text, SendSyntax syntax, HexExtras extras);
// Whether a text read so can be sent: it is right and gives at least one byte.
inline bool textGivesBytes(const SentText& read) {
    return read.ok && !read.bytes.empty();
}

// What the dialog's line says of a text: "4 octets", or what is wrong and where
// ("... en position 3", from 1).
std::string sendTextSummary(const SentText& read);
// What it says when the bytes do not fit in the room left for bytes to send.
std::string noRoomSummary(std::size_t bytes, std::size_t room);

// ---- the texts sent in this run --------------------------------------------------------
const std::size_t SENT_TEXTS_KEPT = 20;
struct SentEntry {
    std::string text;  // UTF-8
    SendSyntax syntax;
};
// A text was sent: it becomes the newest of the texts kept, once only with its
// syntax; the oldest goes past SENT_TEXTS_KEPT.
void rememberSentText(const std::string& text, SendSyntax syntax);
// Newest first.
const std::vector<SentEntry>& sentTexts();
void forgetSentTexts();

#endif
