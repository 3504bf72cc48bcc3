// What goes to the peer besides typed keys and pastes: the send dialog's bytes and
// files, in the order they were given, and each send kept beside the received bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "terminal/history_view.h"
#include "terminal/screen.h"
#include "ui/resource.h"
#include "net/link.h"
#include "net/outgoing.h"
#include "terminal/received_bytes.h"

namespace {

const std::uint32_t EVENT_WRITE = 2;
const std::uint32_t EVENT_ACCEPT = 8;
const std::uint32_t EVENT_CLOSE = 32;
const char FILE_PATH[] = "C:\\data\\frame.bin";

class OutgoingTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }

    // Connected on socket 8.
    static void connect() {
        onListenCommand();
        fake.accepts.push_back(FakeAccept{8, ipv4("127.0.0.1"), 50123});
        onSocketNotify(7, EVENT_ACCEPT);
        ASSERT_EQ(SERVER_CONNECTED, serverState) << traceText();
        fake.trace.clear();
    }
    // A file of `size` bytes of every value, at FILE_PATH.
    static Bytes makeFile(std::size_t size) {
        Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 251);
        fake.files[FILE_PATH] = bytes;
        return bytes;
    }
};

TEST_F(OutgoingTest, TheDialogsBytesGoAfterWhatWaitsWholeOrNotAtAllAndAreKeptAsSent) {
    EXPECT_EQ(SEND_WITHOUT_PEER, sendBytes("x"));
    connect();
    fake.sendRoom = 1;
    sendTypedChar('a');
    sendTypedChar('b');  // waits
    EXPECT_EQ(SEND_QUEUED, sendBytes(std::string("\x20\x02\x00\x00", 4)));
    EXPECT_EQ(bytesOf("a"), fake.sent) << "nothing overtakes what waits";
    EXPECT_EQ(SEND_WITHOUT_ROOM, sendBytes(std::string(SEND_QUEUE_SIZE - 4, 'x')));
    EXPECT_EQ(1, fake.beeps);
    EXPECT_EQ(5u, bytesWaitingToSend()) << "a send that does not fit leaves nothing behind";
    fake.sendRoom = static_cast<std::size_t>(-1);
    onSocketNotify(8, EVENT_WRITE);
    EXPECT_EQ(Bytes({'a', 'b', 0x20, 0x02, 0x00, 0x00}), fake.sent);

    // Each send the socket took is a chunk of its own, its offset counted apart from
    // the received bytes'.
    keepReceivedChunk(reinterpret_cast<const unsigned char*>("hello"), 5);
    EXPECT_EQ(1 + 2 + 2 + 2u, octetRowsEnd());
    const std::uint64_t b = 3;  // the mark, then 'a' (header and bytes), then "b..."
    EXPECT_NE(std::string::npos, octetRowText(1).find(" 1 octet envoye"));
    EXPECT_NE(std::string::npos, octetRowText(b).find(" 5 octets envoyes"));
    EXPECT_EQ("00000001  62 20 02 00 00" + std::string(60 - 24, ' ') + "b ...", octetRowText(b + 1));
    EXPECT_NE(std::string::npos, octetRowText(b + 2).find(" 5 octets recus"));
    EXPECT_EQ("00000000  68 65 6C 6C 6F" + std::string(60 - 24, ' ') + "hello", octetRowText(b + 3));
}

TEST_F(OutgoingTest, AFileGoesAfterTheBytesBeforeItAndBeforeThoseAfterItInPiecesAsTheSocketTakesThem) {
    connect();
    const Bytes file = makeFile(3 * FILE_PIECE_SIZE + 5);
    fake.sendRoom = 1;
    sendTypedChar('a');
    sendTypedChar('b');  // waits, before the file
    ASSERT_TRUE(startSendingFile(FILE_PATH, outgoingConnection()));
    sendTypedChar('c');  // after the file
    EXPECT_EQ(SEND_QUEUED, sendBytes("de"));
    EXPECT_EQ(FILE_GOING, fileSending().state);
    EXPECT_EQ("frame.bin : 0 / 3 145 733 octets", fileSendingText(fileSending()));
    // The socket takes half a piece at a time.
    for (int write = 0; write < 20 && fileSending().state == FILE_GOING; ++write) {
        fake.sendRoom = FILE_PIECE_SIZE / 2;
        onSocketNotify(8, EVENT_WRITE);
        if (write == 2) {
            EXPECT_EQ("frame.bin : 1 572 863 / 3 145 733 octets", fileSendingText(fileSending()));
        }
    }
    fake.sendRoom = static_cast<std::size_t>(-1);
    onSocketNotify(8, EVENT_WRITE);
    Bytes expected = bytesOf("ab");
    expected.insert(expected.end(), file.begin(), file.end());
    expected.insert(expected.end(), {'c', 'd', 'e'});
    ASSERT_EQ(expected.size(), fake.sent.size());
    EXPECT_TRUE(expected == fake.sent) << "the bytes differ from what was given, in order";
    EXPECT_EQ(FILE_SENT, fileSending().state);
    EXPECT_EQ("frame.bin : 3 145 733 octets envoyes", fileSendingText(fileSending()));
    EXPECT_GT(fake.fileSendingShown, 3);
    EXPECT_EQ(0u, fake.openFiles.size()) << "the file is closed";
}

TEST_F(OutgoingTest, ATurnOfSendingHasALimitAndLetsInputComeFirst) {
    connect();
    const Bytes file = makeFile(SENDING_TURN_LIMIT + 3 * FILE_PIECE_SIZE);
    ASSERT_TRUE(startSendingFile(FILE_PATH, outgoingConnection()));
    EXPECT_EQ(SENDING_TURN_LIMIT, fake.sent.size());
    const unsigned connection = static_cast<unsigned>(outgoingConnection());
    const std::string forIt = " for " + std::to_string(connection);
    EXPECT_EQ(1u, traceCount("scheduleSending" + forIt)) << traceText();
    onSocketNotify(8, EVENT_WRITE);  // a turn is asked for: the write notification waits for it
    EXPECT_EQ(SENDING_TURN_LIMIT, fake.sent.size());
    // Input waits: one piece, then the next turn comes after the input.
    fake.inputOrPaintingWaits = true;
    onSendingMoreDue(connection);
    EXPECT_EQ(SENDING_TURN_LIMIT + FILE_PIECE_SIZE, fake.sent.size());
    EXPECT_EQ(1u, traceCount("scheduleSending afterInput" + forIt));
    fake.inputOrPaintingWaits = false;
    onSendingMoreDue(connection);
    EXPECT_TRUE(file == fake.sent);
    EXPECT_EQ(FILE_SENT, fileSending().state);
}

TEST_F(OutgoingTest, AFileStoppedOrCutOffSendsNoMoreOfItAndTellsHowMuchWent) {
    connect();
    makeFile(3 * FILE_PIECE_SIZE + 5);
    fake.sendRoom = FILE_PIECE_SIZE + FILE_PIECE_SIZE / 2;
    ASSERT_TRUE(startSendingFile(FILE_PATH, outgoingConnection()));
    sendTypedChar('z');
    stopSendingFile();
    EXPECT_EQ(FILE_STOPPED, fileSending().state);
    EXPECT_EQ("frame.bin : arrete, 1 572 864 / 3 145 733 octets envoyes", fileSendingText(fileSending()));
    fake.sendRoom = static_cast<std::size_t>(-1);
    onSocketNotify(8, EVENT_WRITE);
    ASSERT_EQ(FILE_PIECE_SIZE + FILE_PIECE_SIZE / 2 + 1, fake.sent.size());
    EXPECT_EQ('z', fake.sent.back()) << "what came after the file still goes";

    fake.sent.clear();
    fake.sendRoom = 1000;
    ASSERT_TRUE(startSendingFile(FILE_PATH, outgoingConnection()));
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(8, EVENT_CLOSE);
    EXPECT_EQ(FILE_CUT_OFF, fileSending().state);
    EXPECT_EQ("frame.bin : connexion terminee, 1 000 / 3 145 733 octets envoyes", fileSendingText(fileSending()));
    EXPECT_EQ(0u, fake.openFiles.size());
    EXPECT_FALSE(startSendingFile(FILE_PATH, outgoingConnection())) << "no peer";
}

// The Open dialog is modal and the link goes on behind it: a file goes to the
// connection it was chosen for, or to none.
TEST_F(OutgoingTest, AFileChosenForAConnectionThatEndedGoesToNoOtherAndTheLineSaysSo) {
    makeFile(3000);
    connect();
    const std::uint64_t first = outgoingConnection();
    EXPECT_NE(0u, first);
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(8, EVENT_CLOSE);  // the peer left while the person chose
    EXPECT_FALSE(startSendingFile(FILE_PATH, first));
    EXPECT_EQ("frame.bin : connexion terminee, rien n'est parti", fileSendingText(fileSending()));

    onListenCommand();
    fake.accepts.push_back(FakeAccept{9, ipv4("127.0.0.1"), 50124});
    onSocketNotify(fake.nextSocket - 1, EVENT_ACCEPT);
    ASSERT_EQ(SERVER_CONNECTED, serverState) << traceText();
    EXPECT_NE(first, outgoingConnection());
    EXPECT_FALSE(startSendingFile(FILE_PATH, first)) << "a file chosen for one peer went to the next";
    EXPECT_EQ(FILE_WITHOUT_CONNECTION, fileSending().state);
    EXPECT_TRUE(fake.sent.empty());
    EXPECT_TRUE(fake.openFiles.empty()) << "the file was opened";
    EXPECT_TRUE(startSendingFile(FILE_PATH, outgoingConnection()));
    EXPECT_EQ(3000u, fake.sent.size());
}

// A turn asked for by a connection comes through the message queue, and may come
// after that connection ended and the next began.
TEST_F(OutgoingTest, ALateTurnOfSendingOfAConnectionThatEndedSendsNothingForTheNext) {
    makeFile(SENDING_TURN_LIMIT + FILE_PIECE_SIZE);
    connect();
    ASSERT_TRUE(startSendingFile(FILE_PATH, outgoingConnection()));
    const unsigned first = static_cast<unsigned>(outgoingConnection());
    ASSERT_EQ(1u, traceCount("scheduleSending for " + std::to_string(first))) << traceText();
    fake.receives.push_back(FakeReceive{0, Bytes()});
    onSocketNotify(8, EVENT_CLOSE);

    onListenCommand();
    fake.accepts.push_back(FakeAccept{9, ipv4("127.0.0.1"), 50124});
    onSocketNotify(fake.nextSocket - 1, EVENT_ACCEPT);
    ASSERT_EQ(SERVER_CONNECTED, serverState) << traceText();
    fake.sent.clear();
    ASSERT_TRUE(startSendingFile(FILE_PATH, outgoingConnection()));
    EXPECT_EQ(SENDING_TURN_LIMIT, fake.sent.size());
    const unsigned second = static_cast<unsigned>(outgoingConnection());
    EXPECT_EQ(first + 1, second);
    EXPECT_EQ(1u, traceCount("scheduleSending for " + std::to_string(second))) << traceText();

    onSendingMoreDue(first);  // the first connection's turn, late
    EXPECT_EQ(SENDING_TURN_LIMIT, fake.sent.size()) << "a second chain of turns began";
    onSendingMoreDue(second);
    EXPECT_EQ(SENDING_TURN_LIMIT + FILE_PIECE_SIZE, fake.sent.size());
    EXPECT_EQ(FILE_SENT, fileSending().state);
    onSendingMoreDue(second);  // asked for once: a second coming sends nothing more
    EXPECT_EQ(SENDING_TURN_LIMIT + FILE_PIECE_SIZE, fake.sent.size());
}

TEST_F(OutgoingTest, AFileThatCannotBeOpenedOrReadIsToldAndNothingMoreOfItGoes) {
    connect();
    makeFile(100);
    fake.unreadable.insert(FILE_PATH);
    EXPECT_FALSE(startSendingFile(FILE_PATH, outgoingConnection()));
    EXPECT_EQ(1u, traceCount("errorBox Impossible de lire le fichier C:\\data\\frame.bin|erreur")) << traceText();
    EXPECT_TRUE(fake.sent.empty());

    // Shorter once open than it was said to be: what could be read went, then a box.
    fake.unreadable.clear();
    makeFile(2 * FILE_PIECE_SIZE);
    fake.sendRoom = 10;
    ASSERT_TRUE(startSendingFile(FILE_PATH, outgoingConnection()));
    fake.files[FILE_PATH].resize(FILE_PIECE_SIZE);
    fake.sendRoom = static_cast<std::size_t>(-1);
    onSocketNotify(8, EVENT_WRITE);
    EXPECT_EQ(FILE_PIECE_SIZE, fake.sent.size());
    EXPECT_EQ(FILE_STOPPED, fileSending().state);
    EXPECT_EQ(1u, traceCount("errorBox Impossible de lire le fichier frame.bin|erreur")) << traceText();
    EXPECT_EQ(0u, fake.openFiles.size());
}

}  // namespace

namespace {

// What Enter sends, typed and in a paste, and the echo of what the person sent.
TEST_F(OutgoingTest, EnterAndEveryLineEndOfAPasteSendWhatTheChosenEndingSays) {
    struct Case {
        EnterEnding ending;
        const char* sent;
    };
    const Case cases[] = {{ENTER_CR, "x\r" "a\rb\rc\rd\r\r"},
                          {ENTER_LF, "x\n" "a\nb\nc\nd\n\n"},
                          {ENTER_CR_LF, "x\r\n" "a\r\nb\r\nc\r\nd\r\n\r\n"}};
    for (const Case& c : cases) {
        resetAll();
        connect();
        chooseEnterEnding(c.ending);
        EXPECT_TRUE(fake.checkedItems[c.ending == ENTER_CR ? IDM_ENTER_CR : c.ending == ENTER_LF ? IDM_ENTER_LF
                                                                                              : IDM_ENTER_CR_LF]);
        sendTypedChar('x');
        sendTypedChar(13);
        fake.clipboardHoldsText = true;
        fake.clipboard = "a\r\nb\rc\nd\n\r";  // CR LF, a lone CR, a lone LF, LF then CR
        pasteClipboardText();
        EXPECT_EQ(bytesOf(c.sent), fake.sent) << c.sent;
    }
    // A paste whose line ends no longer fit once doubled is refused whole.
    resetAll();
    connect();
    chooseEnterEnding(ENTER_CR_LF);
    fake.sendRoom = 0;
    fake.clipboardHoldsText = true;
    fake.clipboard = std::string(SEND_QUEUE_SIZE / 2 + 1, '\n');
    pasteClipboardText();
    EXPECT_EQ(0u, bytesWaitingToSend());
    EXPECT_EQ(1, fake.beeps);
}

TEST_F(OutgoingTest, TheEchoShowsWhatThePersonSentAndNothingElse) {
    makeWindowGrid();
    connect();
    showGridAsIs();
    sendTypedChar('a');  // no echo until asked for
    toggleLocalEcho();
    EXPECT_TRUE(fake.checkedItems[IDM_LOCAL_ECHO]);
    sendTypedChar('b');
    sendTypedChar(13);  // Enter sends CR: the echo goes back to the row's start
    fake.clipboardHoldsText = true;
    fake.clipboard = "cd\r\n";
    pasteClipboardText();
    EXPECT_EQ(SEND_QUEUED, sendBytes("e"));
    sendReply("REPLY", 1);  // a rule's reply is not echoed
    fake.clipboard = std::string(SEND_QUEUE_SIZE + 1, 'z');
    pasteClipboardText();  // refused: nothing is echoed
    // b, then the CR home, cd over it and home, e over c.
    EXPECT_EQ("ed", std::string(reinterpret_cast<const char*>(terminalRow(0)), 2));
    EXPECT_EQ(' ', terminalRow(0)[2]);
    EXPECT_EQ(0, cursorRow);
    EXPECT_EQ(1, cursorCol);
    showChangesNow();
    EXPECT_EQ(Bytes({1, 1, 0}), Bytes(fake.shownSent.begin(), fake.shownSent.begin() + 3));
    EXPECT_EQ(bytesOf("ab\rcd\reREPLY"), fake.sent);
    for (std::uint64_t row = 0; row < octetRowsEnd(); ++row) {
        EXPECT_EQ(std::string::npos, octetRowText(row).find("recu")) << "an echo is no received byte";
    }
}

}  // namespace
