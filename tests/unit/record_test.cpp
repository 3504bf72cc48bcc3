// The session record: encoder, decoder and the two file operations.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "session/record.h"
#include "session/settings.h"

namespace {

typedef std::vector<std::string> Lines;

SessionSettings settingsOf(const std::string& address, std::uint32_t port, const std::string& path,
                           bool wrap) {
    SessionSettings s;
    std::memset(&s, 0, sizeof s);
    copyTextField(s.address, sizeof s.address, address.c_str());
    s.port = port;
    copyTextField(s.path, sizeof s.path, path.c_str());
    s.autoWrap = wrap;
    return s;
}

Bytes encode(const SessionSettings& s) {
    unsigned char buffer[SESSION_BUFFER_SIZE];
    std::size_t length = encodeSessionRecord(s, buffer);
    return Bytes(buffer, buffer + length);
}

// Decodes from a heap block of exactly the data's size, so that the address
// sanitizer catches any read outside the data.
int decodeExact(const Bytes& data, SessionSettings* out) {
    std::unique_ptr<unsigned char[]> block(new unsigned char[data.size()]);
    std::memcpy(block.get(), data.data(), data.size());
    return decodeSessionRecord(block.get(), data.size(), out);
}

const Bytes FIRST_EXAMPLE = {0x30, 0x2E, 0x30, 0x2E, 0x30, 0x2E, 0x30, 0x00, 0x28, 0x23,
                             0x00, 0x43, 0x3A, 0x5C, 0x63, 0x61, 0x70, 0x74, 0x75, 0x72,
                             0x65, 0x2E, 0x74, 0x78, 0x74, 0x00, 0xFF};
const Bytes SECOND_EXAMPLE = {0x31, 0x30, 0x2E, 0x30, 0x2E, 0x30, 0x2E, 0x32,
                              0x00, 0x90, 0x1F, 0x00, 0x43, 0x3A, 0x5C, 0x63,
                              0x61, 0x70, 0x2E, 0x74, 0x78, 0x74, 0x00, 0x01};

class RecordTest : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }

    static void setSettings(const char* address, std::uint32_t port, const char* path, bool wrap) {
        applySessionSettings(settingsOf(address, port, path, wrap));
    }
    static void expectSettings(const char* address, std::uint32_t port, const char* path,
                               bool wrap) {
        EXPECT_STREQ(address, serverAddress);
        EXPECT_EQ(port, serverPort);
        EXPECT_STREQ(path, capturePath);
        EXPECT_EQ(wrap, autoWrap);
    }
};

TEST_F(RecordTest, TheTwoExampleRecordsByteForByte) {
    EXPECT_EQ(FIRST_EXAMPLE, encode(settingsOf("0.0.0.0", 9000, "C:\\capture.txt", false)));
    EXPECT_EQ(SECOND_EXAMPLE, encode(settingsOf("10.0.0.2", 8080, "C:\\cap.txt", true)));

    SessionSettings out;
    ASSERT_EQ(0, decodeExact(SECOND_EXAMPLE, &out));
    EXPECT_STREQ("10.0.0.2", out.address);
    EXPECT_EQ(8080u, out.port);  // the low byte 0x90 counts as 144
    EXPECT_STREQ("C:\\cap.txt", out.path);
    EXPECT_TRUE(out.autoWrap);
    ASSERT_EQ(0, decodeExact(FIRST_EXAMPLE, &out));
    EXPECT_EQ(9000u, out.port);
    EXPECT_FALSE(out.autoWrap);
}

TEST_F(RecordTest, EncoderClearsItsBufferFirst) {
    unsigned char buffer[SESSION_BUFFER_SIZE];
    std::memset(buffer, 0xAA, sizeof buffer);
    std::size_t length = encodeSessionRecord(settingsOf("1.2.3.4", 1, "", true), buffer);
    EXPECT_EQ(13u, length);
    for (std::size_t i = length; i < sizeof buffer; ++i) ASSERT_EQ(0, buffer[i]) << i;
}

TEST_F(RecordTest, PortKeepsItsLow16Bits) {
    SessionSettings out;
    Bytes max = encode(settingsOf("", 65535, "p", false));
    EXPECT_EQ(Bytes({0x00, 0xFF, 0xFF, 0x00, 'p', 0x00, 0xFF}), max);
    ASSERT_EQ(0, decodeExact(max, &out));
    EXPECT_EQ(65535u, out.port);
    Bytes over = encode(settingsOf("", 65536, "p", false));
    EXPECT_EQ(0x00, over[1]);
    EXPECT_EQ(0x00, over[2]);
    ASSERT_EQ(0, decodeExact(over, &out));
    EXPECT_EQ(0u, out.port);
}

TEST_F(RecordTest, OnlyTheByteOneMeansAutoWrapOn) {
    const unsigned char values[] = {0x01, 0x00, 0x02, 0xFF, 0x81};
    for (unsigned char v : values) {
        Bytes data = {'a', 0, 0x28, 0x23, 0, 'p', 0, v};
        SessionSettings out;
        ASSERT_EQ(0, decodeExact(data, &out));
        EXPECT_EQ(v == 0x01, out.autoWrap) << int(v);
    }
}

TEST_F(RecordTest, LongestRecordIs284BytesAndReadsBack) {
    std::string address(19, '9');
    std::string path(259, 'p');
    Bytes record = encode(settingsOf(address, 9000, path, true));
    ASSERT_EQ(SESSION_RECORD_MAX, record.size());
    EXPECT_EQ(0x00, record[282]);
    EXPECT_EQ(0x01, record[283]);
    SessionSettings out;
    ASSERT_EQ(0, decodeExact(record, &out));
    EXPECT_EQ(address, out.address);
    EXPECT_EQ(path, out.path);
    EXPECT_TRUE(out.autoWrap);
}

TEST_F(RecordTest, ShortAndDamagedDataNeverReadsOutside) {
    struct Case {
        Bytes data;
        int result;
        const char* address;
        std::uint32_t port;
        const char* path;
        bool wrap;
    };
    const Case cases[] = {
        {{'a'}, -1, "", 0, "", false},                                   // no zero byte
        {Bytes(512, 'a'), -1, "", 0, "", false},                         // none in 512 bytes
        {{0}, 0, "", 0, "", false},                                      // first byte zero
        {{0, 0x28, 0x23, 0, 'x', 0, 1}, 0, "", 9000, "x", true},         // empty address
        {bytesOf(std::string("1.2.3.4") + '\0'), 0, "1.2.3.4", 0, "", false},  // no port bytes
        {{'a', 0, 0x28}, 0, "a", 0x28, "", false},                       // high port byte missing
        {{'a', 0, 0x28, 0x23}, 0, "a", 9000, "", false},                 // separator missing
        {{'a', 0, 0x28, 0x23, 0}, 0, "a", 9000, "", false},              // data ends at the path
        {{'a', 0, 0x28, 0x23, 0, 'x', 'y'}, 0, "a", 9000, "xy", false},  // path cut short
        {{'a', 0, 0x28, 0x23, 0, 'x', 'y', 0}, 0, "a", 9000, "xy", false},  // no autoWrap byte
        {{'a', 0, 0x28, 0x23, 7, 'x', 0, 1, 9, 9}, 0, "a", 9000, "x", true},  // tail ignored
    };
    for (const Case& c : cases) {
        SessionSettings out = settingsOf("old", 1, "old", true);
        ASSERT_EQ(c.result, decodeExact(c.data, &out)) << "size " << c.data.size();
        if (c.result != 0) continue;
        EXPECT_STREQ(c.address, out.address);
        EXPECT_EQ(c.port, out.port);
        EXPECT_STREQ(c.path, out.path);
        EXPECT_EQ(c.wrap, out.autoWrap) << "size " << c.data.size();
    }
}

TEST_F(RecordTest, TextsTooLongForTheirFieldsAreRefused) {
    const std::string longAddress(20, '1');
    const std::string longPath(260, 'p');
    Bytes address = bytesOf(longAddress);
    address.insert(address.end(), {0, 0x28, 0x23, 0, 'p', 0, 1});
    Bytes path = {'a', 0, 0x28, 0x23, 0};
    path.insert(path.end(), longPath.begin(), longPath.end());
    path.insert(path.end(), {0, 1});
    Bytes unterminatedPath = {'a', 0, 0x28, 0x23, 0};
    unterminatedPath.insert(unterminatedPath.end(), longPath.begin(), longPath.end());
    const Bytes* files[] = {&address, &path, &unterminatedPath};
    for (const Bytes* file : files) {
        SessionSettings out;
        EXPECT_EQ(-1, decodeExact(*file, &out)) << "size " << file->size();
        fake.files["long.sip"] = *file;
        setSettings("1.1.1.1", 1234, "keep", true);
        EXPECT_EQ(-1, loadSessionFile("long.sip"));
        expectSettings("1.1.1.1", 1234, "keep", true);
    }
}

TEST_F(RecordTest, LoadReadsOnce512BytesAndClosesTheFile) {
    Bytes file = SECOND_EXAMPLE;
    file.resize(600, 0x55);  // a record, then bytes that are not part of it
    fake.files["s.sip"] = file;
    EXPECT_EQ(0, loadSessionFile("s.sip"));
    EXPECT_EQ(Lines({"openRead s.sip -> 3", "read 3 512 -> 512", "close file 3"}), fake.trace);
    expectSettings("10.0.0.2", 8080, "C:\\cap.txt", true);
    EXPECT_TRUE(fake.openFiles.empty());

    // The first 512 bytes hold no zero; the one after them is never read.
    Bytes noZero(600, 'a');
    noZero[550] = 0;
    fake.files["z.sip"] = noZero;
    EXPECT_EQ(-1, loadSessionFile("z.sip"));
    expectSettings("10.0.0.2", 8080, "C:\\cap.txt", true);
}

TEST_F(RecordTest, LoadFailuresChangeNoSetting) {
    fake.files["empty.sip"] = Bytes();
    fake.files["nozero.sip"] = bytesOf("0.0.0.0");
    fake.files["locked.sip"] = FIRST_EXAMPLE;
    fake.unreadable.insert("locked.sip");
    setSettings("9.9.9.9", 99, "keep", true);
    const char* paths[] = {"missing.sip", "empty.sip", "nozero.sip", "locked.sip"};
    for (const char* path : paths) {
        EXPECT_EQ(-1, loadSessionFile(path)) << path;
        expectSettings("9.9.9.9", 99, "keep", true);
    }
    EXPECT_TRUE(fake.openFiles.empty());

    // An empty path in the file is loaded as empty, with no default.
    fake.files["nopath.sip"] = Bytes({'a', 0, 0x28, 0x23, 0, 0, 0xFF});
    EXPECT_EQ(0, loadSessionFile("nopath.sip"));
    expectSettings("a", 9000, "", false);
}

TEST_F(RecordTest, WriteNeverTruncatesAndReadsBackAsTheNewSettings) {
    fake.files["s.sip"] = Bytes(40, 0x77);
    setSettings("0.0.0.0", 9000, "C:\\capture.txt", false);
    EXPECT_EQ(0, writeSessionFile("s.sip"));
    EXPECT_EQ(Lines({"openWrite s.sip -> 3", "write 3 27 bytes", "close file 3"}), fake.trace);
    const Bytes& written = fake.files["s.sip"];
    ASSERT_EQ(40u, written.size());
    EXPECT_EQ(FIRST_EXAMPLE, Bytes(written.begin(), written.begin() + 27));
    EXPECT_EQ(Bytes(13, 0x77), Bytes(written.begin() + 27, written.end()));

    setSettings("x", 1, "y", true);
    ASSERT_EQ(0, loadSessionFile("s.sip"));
    expectSettings("0.0.0.0", 9000, "C:\\capture.txt", false);

    EXPECT_EQ(0, writeSessionFile("new.sip"));  // created
    EXPECT_EQ(FIRST_EXAMPLE, fake.files["new.sip"]);

    fake.unwritable.insert("ro.sip");
    fake.files["ro.sip"] = bytesOf("keep");
    EXPECT_EQ(SESSION_NOT_OPENED, writeSessionFile("ro.sip"));
    EXPECT_EQ(bytesOf("keep"), fake.files["ro.sip"]);
    EXPECT_TRUE(fake.openFiles.empty());

    // A full volume: nothing or only part of the record goes in, and it says so; the
    // file is closed either way.
    fake.writeRoom = 0;
    EXPECT_EQ(SESSION_NOT_WRITTEN, writeSessionFile("full.sip"));
    EXPECT_TRUE(fake.files["full.sip"].empty());
    fake.writeRoom = 10;
    EXPECT_EQ(SESSION_NOT_WRITTEN, writeSessionFile("short.sip"));
    EXPECT_EQ(Bytes(FIRST_EXAMPLE.begin(), FIRST_EXAMPLE.begin() + 10), fake.files["short.sip"]);
    EXPECT_TRUE(fake.openFiles.empty());
}

TEST_F(RecordTest, CurrentSettingsRoundTrip) {
    setSettings("192.168.100.200", 65535, "D:\\a b\\c.txt", true);
    SessionSettings s = currentSessionSettings();
    SessionSettings out;
    ASSERT_EQ(0, decodeExact(encode(s), &out));
    EXPECT_STREQ("192.168.100.200", out.address);
    EXPECT_EQ(65535u, out.port);
    EXPECT_STREQ("D:\\a b\\c.txt", out.path);
    EXPECT_TRUE(out.autoWrap);
}

}  // namespace
