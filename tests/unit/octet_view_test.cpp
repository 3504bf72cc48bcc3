// The received bytes kept as they came, the octet rows made from them, and the view
// that shows those rows instead of the text rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "terminal/history_view.h"
#include "terminal/layout.h"
#include "terminal/received_bytes.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

const long long AT_13_45_07_089 = ((13 * 60 + 45) * 60 + 7) * 1000LL + 89;

class OctetViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        makeWindowGrid();
        showGridAsIs();
    }
    void TearDown() override { resetAll(); }

    static void chunk(const std::string& bytes) {
        keepReceivedChunk(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    // A kept row as it is shown, without the blanks that end it.
    static std::string octetRow(std::uint64_t row) {
        std::vector<unsigned char> cells(static_cast<std::size_t>(gridColumns));
        formatOctetRow(row, cells.data(), gridColumns);
        std::string text(cells.begin(), cells.end());
        return text.erase(text.find_last_not_of(' ') + 1);
    }
    // What the window shows on a view row, as drawn.
    static std::string drawnRow(int viewRow) {
        const auto from = fake.shown.begin() + static_cast<long>(viewRow) * gridColumns;
        std::string text(from, from + gridColumns);
        return text.erase(text.find_last_not_of(' ') + 1);
    }
    // A chunk as the link takes it in: kept, then put on the grid.
    static void receive(const std::string& bytes) {
        chunk(bytes);
        showReceivedBytes(bytes);
    }
    // Chunks of one byte each, the n-th holding n % 256.
    static void tinyChunks(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) chunk(std::string(1, static_cast<char>(i)));
    }
};

TEST_F(OctetViewTest, RowsShowMarksHeadersAndBytesAsTheyCame) {
    fake.clockStep = 0;
    fake.localTime = AT_13_45_07_089;
    keepConnectionOpened(ipv4Endpoint(ipv4("192.168.1.20"), 50123), Endpoint(), false);
    std::string bytes = "\x02" "ABC" "\x03";
    bytes += std::string("\x00\x1f\x20\x7e\x7f\xff", 6);
    bytes += "0123456789";  // 21 bytes: a full row and a short one
    chunk(bytes);
    fake.localTime += 1500;
    fake.now += 1500;
    chunk("Z");
    fake.localTime = AT_13_45_07_089 + 86400000LL * 3 + 61001;  // days later
    keepConnectionEnded();
    keepConnectionOpened(ipv4Endpoint(ipv4("10.0.0.2"), 7), Endpoint(), false);
    chunk("again");

    ASSERT_EQ(0u, firstKeptOctetRow());
    ASSERT_EQ(10u, octetRowsEnd());
    EXPECT_EQ("13:45:07.089  Connexion de 192.168.1.20:50123", octetRow(0));
    EXPECT_EQ("13:45:07.089  +0.000 s  21 octets recus", octetRow(1));
    EXPECT_EQ(std::string("00000000  02 41 42 43 03 00 1F 20  7E 7F FF 30 31 32 33 34  ") +
                  ".ABC... ~..01234",
              octetRow(2));
    EXPECT_EQ("00000010  35 36 37 38 39" + std::string(60 - 24, ' ') + "56789", octetRow(3));
    EXPECT_EQ("13:45:08.589  +1.500 s  1 octet recu", octetRow(4));
    EXPECT_EQ("00000015  5A" + std::string(60 - 12, ' ') + "Z", octetRow(5));
    EXPECT_EQ("13:46:08.090  Fin de connexion", octetRow(6));
    // A new connection: offsets and intervals begin again.
    EXPECT_EQ("13:46:08.090  Connexion de 10.0.0.2:7", octetRow(7));
    EXPECT_EQ("13:46:08.090  +0.000 s  5 octets recus", octetRow(8));
    EXPECT_EQ("00000000  61 67 61 69 6E" + std::string(60 - 24, ' ') + "again", octetRow(9));
    EXPECT_EQ("", octetRow(10));  // past the newest: blank
}

// A start's mark says which side opened the connection, its peer written as its
// family writes it; the longest IPv6 end passes the row's end and is cut there,
// whatever the width asked for.
TEST_F(OctetViewTest, AStartMarkSaysWhichSideOpenedAndTheLongestIsCutAtTheRowsEnd) {
    fake.clockStep = 0;
    fake.localTime = AT_13_45_07_089;
    Endpoint loopback = {FAMILY_IPV6, {}, 502, 0};
    loopback.address[15] = 1;
    Endpoint longest = {FAMILY_IPV6, {}, 65535, 4294967295u};
    std::fill(std::begin(longest.address), std::end(longest.address), 0xFF);
    keepConnectionOpened(loopback, Endpoint(), true);
    keepConnectionEnded();
    keepConnectionOpened(ipv4Endpoint(ipv4("192.168.1.20"), 502), Endpoint(), true);
    keepConnectionEnded();
    keepConnectionOpened(loopback, Endpoint(), false);
    keepConnectionEnded();
    keepConnectionOpened(longest, Endpoint(), true);
    ASSERT_EQ(7u, octetRowsEnd());
    EXPECT_EQ("13:45:07.089  Connexion a [::1]:502", octetRow(0));
    EXPECT_EQ("13:45:07.089  Connexion a 192.168.1.20:502", octetRow(2));
    EXPECT_EQ("13:45:07.089  Connexion de [::1]:502", octetRow(4));
    const std::string whole = "13:45:07.089  Connexion a [ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff%4294967295]:65535";
    ASSERT_GT(whole.size(), static_cast<std::size_t>(OCTET_ROW_LENGTH));
    for (int columns : {40, OCTET_ROW_LENGTH - 1, OCTET_ROW_LENGTH, OCTET_ROW_LENGTH + 1, 90}) {
        std::vector<unsigned char> cells(static_cast<std::size_t>(columns));  // a write past them is caught
        formatOctetRow(6, cells.data(), columns);
        std::string expected = whole.substr(0, static_cast<std::size_t>(std::min(columns, OCTET_ROW_LENGTH)));
        expected.resize(static_cast<std::size_t>(columns), ' ');
        EXPECT_EQ(expected, std::string(cells.begin(), cells.end())) << columns << " columns";
    }
}

TEST_F(OctetViewTest, IntervalsAreMeasuredWithTheMonotonicClockNotTheTimeOfDay) {
    fake.clockStep = 0;
    fake.localTime = AT_13_45_07_089;
    keepConnectionOpened(ipv4Endpoint(ipv4("127.0.0.1"), 4000), Endpoint(), false);
    chunk("a");
    // Daylight saving time begins 10 ms later: the time of day jumps an hour ahead.
    fake.now += 10;
    fake.localTime += 3600000 + 10;
    chunk("b");
    // The clock is set back 5 minutes, 250 ms later.
    fake.now += 250;
    fake.localTime += 250 - 300000;
    chunk("c");
    EXPECT_EQ("14:45:07.099  +0.010 s  1 octet recu", octetRow(3));
    EXPECT_EQ("14:40:07.349  +0.250 s  1 octet recu", octetRow(5));

    // The keep-alive holds a quiet link open for weeks: no interval is cut short.
    // Below a day it is told in seconds, from a day on in days and a time of day.
    const long long aDay = 24LL * 3600 * 1000;
    const long long waits[] = {aDay - 1, aDay, 25 * aDay + ((3 * 60 + 4) * 60 + 5) * 1000 + 678};
    for (long long wait : waits) {
        fake.now += wait;
        chunk("d");
    }
    EXPECT_EQ("+86399.999 s  1 octet recu", octetRow(7).substr(14));
    EXPECT_EQ("+1d 00:00:00.000  1 octet recu", octetRow(9).substr(14));
    EXPECT_EQ("+25d 03:04:05.678  1 octet recu", octetRow(11).substr(14)) << "past 24.8 days";
}

TEST_F(OctetViewTest, SentBytesAreChunksOfTheirOwnWithTheirOwnOffsetsAndAreDrawnAsSent) {
    fake.clockStep = 0;
    fake.localTime = ((14 * 60 + 2) * 60 + 31) * 1000LL + 207;
    keepConnectionOpened(ipv4Endpoint(ipv4("192.168.1.20"), 50123), Endpoint(), false);
    fake.now += 2;
    fake.localTime += 2;
    chunk(std::string("\x10\x0c\x00\x04MQTT\x04\x02\x00\x3c\x00\x00", 14));
    fake.now += 2203;
    fake.localTime += 2203;
    keepSentChunk(reinterpret_cast<const unsigned char*>("\x20\x02\x00\x00"), 4);
    fake.now += 1;
    fake.localTime += 1;
    chunk(std::string("\x30\x0b\x00\x03t/1hello\xe0\x00", 14));
    ASSERT_EQ(7u, octetRowsEnd());
    EXPECT_EQ("14:02:31.207  Connexion de 192.168.1.20:50123", octetRow(0));
    EXPECT_EQ("14:02:31.209  +0.002 s  14 octets recus", octetRow(1));
    EXPECT_EQ("00000000  10 0C 00 04 4D 51 54 54  04 02 00 3C 00 00        ....MQTT...<..", octetRow(2));
    EXPECT_EQ("14:02:33.412  +2.203 s  4 octets envoyes", octetRow(3));
    EXPECT_EQ("00000000  20 02 00 00" + std::string(60 - 21, ' ') + " ...", octetRow(4));
    EXPECT_EQ("14:02:33.413  +0.001 s  14 octets recus", octetRow(5));
    EXPECT_EQ("0000000E  30 0B 00 03 74 2F 31 68  65 6C 6C 6F E0 00        0...t/1hello..", octetRow(6));

    // The sent chunk's rows are drawn as sent, the others plainly; selected cells
    // are inverted whichever they are.
    toggleOctetView();
    const auto sentAt = [](int viewRow, int col) {
        return fake.shownSent[static_cast<std::size_t>(viewRow) * gridColumns + col] != 0;
    };
    EXPECT_TRUE(sentAt(3, 0) && sentAt(4, 10) && sentAt(4, 70));
    EXPECT_FALSE(sentAt(2, 10) || sentAt(5, 0) || sentAt(6, 10));
    pressSelection(3, 40);
    dragSelection(4, 20);
    releaseSelection(4, 20);
    EXPECT_FALSE(sentAt(4, 0));
    EXPECT_EQ(1, fake.shownInverted[static_cast<std::size_t>(4) * gridColumns]);
    EXPECT_TRUE(sentAt(4, 60)) << "past the selection, still drawn as sent";
    EXPECT_EQ("\r\n00000000  20 02 00 00", fake.clipboard) << "copied as received rows are";
}

TEST_F(OctetViewTest, TheRingKeepsTheLatestBytesAndTheViewStartsAtAWholeChunk) {
    fake.clockStep = 0;
    keepConnectionOpened(ipv4Endpoint(ipv4("127.0.0.1"), 4000), Endpoint(), false);
    // Five chunks of a million bytes and 3: the ring of 4 MiB no longer holds the
    // first one's start, and a row of the fifth passes the ring's end.
    const std::size_t size = 1000003;
    std::string bytes(size, '\0');
    for (int n = 0; n < 5; ++n) {
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((n * size + i) % 251);
        chunk(bytes);
    }
    const std::uint64_t rowsOfAChunk = 1 + (size + 15) / 16;
    EXPECT_EQ(1 + rowsOfAChunk, firstKeptOctetRow()) << "the mark and the cut chunk are gone";
    EXPECT_EQ("00:00:00.000  +0.000 s  1 000 003 octets recus", octetRow(firstKeptOctetRow()));
    // The row of the fifth chunk that holds the ring's end (byte 4 MiB of the stream).
    const std::uint64_t atRingEnd = RECEIVED_BYTES_KEPT - 4 * size;
    ASSERT_NE(0u, atRingEnd % 16);
    const std::uint64_t row = 1 + 4 * rowsOfAChunk + 1 + atRingEnd / 16;
    const std::uint64_t first = 4 * size + atRingEnd / 16 * 16;
    char field[12];
    std::snprintf(field, sizeof field, "%08llX  ", static_cast<unsigned long long>(first));
    std::string expected = field;
    for (int i = 0; i < 16; ++i) {
        std::snprintf(field, sizeof field, i == 7 || i == 15 ? "%02X  " : "%02X ",
                      static_cast<unsigned>((first + static_cast<unsigned>(i)) % 251));
        expected += field;
    }
    EXPECT_EQ(expected, octetRow(row).substr(0, 60));
}

TEST_F(OctetViewTest, RecordsGoBeforeBytesWhenChunksAreTiny) {
    keepConnectionOpened(ipv4Endpoint(ipv4("127.0.0.1"), 4000), Endpoint(), false);
    tinyChunks(RECEIVED_RECORDS_KEPT + 9);  // the mark and 9 chunks lose their records
    EXPECT_EQ(1 + 9 * 2u, firstKeptOctetRow());
    EXPECT_EQ("00000009  09" + std::string(60 - 12, ' ') + ".", octetRow(firstKeptOctetRow() + 1));
    EXPECT_EQ(1 + (RECEIVED_RECORDS_KEPT + 9) * 2u, octetRowsEnd());
}

TEST_F(OctetViewTest, TheViewFollowsNewRowsAndStaysPutWhenBack) {
    keepConnectionOpened(ipv4Endpoint(ipv4("127.0.0.1"), 4000), Endpoint(), false);
    for (int n = 0; n < 40; ++n) chunk("chunk " + std::to_string(n));  // 81 rows
    fake.trace.clear();
    toggleOctetView();
    EXPECT_TRUE(octetViewIsShown());
    EXPECT_TRUE(fake.checkedItems[IDM_OCTET_VIEW]);
    EXPECT_TRUE(fake.caretOutOfView) << "no caret over the octet rows";
    EXPECT_EQ(81 - 25, shownHistoryRows());
    EXPECT_EQ(octetRow(80), drawnRow(24));
    EXPECT_EQ(octetRow(56), drawnRow(0));

    // At the newest rows, new rows come in below; the rows shown move up.
    receive("more");
    EXPECT_EQ(octetRow(82), drawnRow(24));
    EXPECT_EQ(octetRow(58), drawnRow(0));

    // Back among the rows, the view keeps its rows; to the oldest, and back down.
    scrollViewBack(10);
    const std::string top = drawnRow(0);
    receive("even more");
    EXPECT_EQ(top, drawnRow(0));
    showOldestRows();
    EXPECT_EQ("00:00:00.000  Connexion de 127.0.0.1:4000", drawnRow(0));
    EXPECT_EQ(shownHistoryRows(), viewOffset());
    showLiveRows();
    EXPECT_EQ(octetRow(octetRowsEnd() - 1), drawnRow(24));

    // A drag copies the rows as shown, joined by CR LF.
    pressSelection(23, 0);
    dragSelection(24, 78);
    releaseSelection(24, 78);
    EXPECT_EQ(octetRow(octetRowsEnd() - 2) + "\r\n0000013A  65 76 65 6E 20 6D 6F 72  65" +
                  std::string(60 - 37, ' ') + "even more",
              fake.clipboard);
    EXPECT_NE(std::string::npos, fake.clipboard.find(" s  9 octets recus\r\n"));
}

TEST_F(OctetViewTest, TheTextViewComesBackAsItWasLeft) {
    std::string lines;
    for (int n = 0; n < 60; ++n) lines += "line " + std::to_string(n) + "\r\n";
    keepConnectionOpened(ipv4Endpoint(ipv4("127.0.0.1"), 4000), Endpoint(), false);
    receive(lines);
    scrollViewBack(5);
    const Bytes textShown = fake.shown;
    toggleOctetView();
    // Bytes arrive meanwhile: the text view, which is back, keeps its rows.
    receive("line 60\r\nline 61\r\n");
    toggleOctetView();
    EXPECT_FALSE(octetViewIsShown());
    EXPECT_FALSE(fake.checkedItems[IDM_OCTET_VIEW]);
    EXPECT_EQ(7, viewOffset());
    EXPECT_EQ(textShown, fake.shown);
    EXPECT_TRUE(fake.caretOutOfView);  // its row is below the view, as before
    showLiveRows();
    EXPECT_FALSE(fake.caretOutOfView);
}

}  // namespace
