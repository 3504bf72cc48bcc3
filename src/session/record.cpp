#include "session/record.h"

#include <cstring>

#include "platform.h"

namespace {

// Length of the text starting at `offset`: up to its zero byte or the end of the data.
std::size_t textLength(const unsigned char* data, std::size_t count, std::size_t offset) {
    std::size_t end = offset;
    while (end < count && data[end] != 0) end++;
    return end - offset;
}

// Length of a text field's characters, at most `max`.
std::size_t fieldLength(const char* field, std::size_t max) {
    const void* zero = std::memchr(field, 0, max);
    return zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - field) : max;
}

unsigned char byteOrZero(const unsigned char* data, std::size_t count, std::size_t offset) {
    return offset < count ? data[offset] : 0;
}

}  // namespace

std::size_t encodeSessionRecord(const SessionSettings& settings,
                                unsigned char (&buffer)[SESSION_BUFFER_SIZE]) {
    std::memset(buffer, 0, sizeof buffer);
    std::size_t a = fieldLength(settings.address, SERVER_ADDRESS_SIZE - 1);
    std::size_t pathLength = fieldLength(settings.path, CAPTURE_PATH_SIZE - 1);
    std::memcpy(buffer, settings.address, a);
    buffer[a] = 0;
    buffer[a + 1] = static_cast<unsigned char>(settings.port & 0xFF);
    buffer[a + 2] = static_cast<unsigned char>((settings.port >> 8) & 0xFF);
    buffer[a + 3] = 0;
    std::memcpy(buffer + a + 4, settings.path, pathLength);
    std::size_t p = a + 4 + pathLength;
    buffer[p] = 0;
    buffer[p + 1] = settings.autoWrap ? AUTOWRAP_ON_BYTE : AUTOWRAP_OFF_BYTE;
    return p + 2;
}

int decodeSessionRecord(const unsigned char* data, std::size_t count, SessionSettings* out) {
    if (count == 0 || count > SESSION_BUFFER_SIZE) return -1;
    std::size_t a = textLength(data, count, 0);
    if (a == count) return -1;                     // no complete address
    if (a > SERVER_ADDRESS_SIZE - 1) return -1;    // a record this program never writes
    std::size_t pathStart = a + 4;
    std::size_t pathLength = pathStart < count ? textLength(data, count, pathStart) : 0;
    if (pathLength > CAPTURE_PATH_SIZE - 1) return -1;

    SessionSettings decoded;
    std::memset(&decoded, 0, sizeof decoded);
    std::memcpy(decoded.address, data, a);
    decoded.port = static_cast<std::uint32_t>(byteOrZero(data, count, a + 1)) |
                   static_cast<std::uint32_t>(byteOrZero(data, count, a + 2)) << 8;
    if (pathLength > 0) std::memcpy(decoded.path, data + pathStart, pathLength);
    decoded.autoWrap = byteOrZero(data, count, pathStart + pathLength + 1) == AUTOWRAP_ON_BYTE;
    *out = decoded;
    return 0;
}

SessionSettings currentSessionSettings() {
    SessionSettings s;
    std::memset(&s, 0, sizeof s);
    copyTextField(s.address, sizeof s.address, serverAddress);
    s.port = serverPort;
    copyTextField(s.path, sizeof s.path, capturePath);
    s.autoWrap = autoWrap;
    return s;
}

void applySessionSettings(const SessionSettings& settings) {
    copyTextField(serverAddress, sizeof serverAddress, settings.address);
    serverPort = settings.port;
    copyTextField(capturePath, sizeof capturePath, settings.path);
    autoWrap = settings.autoWrap;
}

int loadSessionFile(const char* path) {
    FileHandle file = openFileForReading(path);
    if (file == NO_FILE) return -1;
    unsigned char buffer[SESSION_BUFFER_SIZE];
    std::size_t count = readFileBytes(file, buffer, sizeof buffer);
    closeFile(file);
    if (count == 0 || count > sizeof buffer) return -1;
    SessionSettings decoded;
    if (decodeSessionRecord(buffer, count, &decoded) != 0) return -1;
    applySessionSettings(decoded);
    return 0;
}

int writeSessionFile(const char* path) {
    FileHandle file = openFileForWriting(path);
    if (file == NO_FILE) return SESSION_NOT_OPENED;
    unsigned char buffer[SESSION_BUFFER_SIZE];
    std::size_t length = encodeSessionRecord(currentSessionSettings(), buffer);
    bool written = writeFileBytes(file, buffer, length);
    closeFile(file);
    return written ? 0 : SESSION_NOT_WRITTEN;
}
