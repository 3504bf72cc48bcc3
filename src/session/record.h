// The session record: the four settings as one small binary record, and the
// session file operations that read and write it.
#ifndef ORU_RECORD_H
#define ORU_RECORD_H

#include <cstddef>
#include <cstdint>
#include "session/settings.h"

const std::size_t SESSION_BUFFER_SIZE = 512;
const std::size_t SESSION_RECORD_MAX = 284;
const unsigned char AUTOWRAP_ON_BYTE = 0x01;
const unsigned char AUTOWRAP_OFF_BYTE = 0xFF;

struct SessionSettings {
    char address[SERVER_ADDRESS_SIZE];
    std::uint32_t port;
    char path[CAPTURE_PATH_SIZE];
    bool autoWrap;
};

// Encodes the given settings into `buffer` (cleared first); returns the record's length.
std::size_t encodeSessionRecord(const SessionSettings& settings,
                                unsigned char (&buffer)[SESSION_BUFFER_SIZE]);
// Decodes `count` bytes (1 to 512). 0 on success, -1 when there is no complete
// address or a text would not fit its field.
int decodeSessionRecord(const unsigned char* data, std::size_t count, SessionSettings* out);

// The current settings, and installing decoded ones.
SessionSettings currentSessionSettings();
void applySessionSettings(const SessionSettings& settings);

// Reads the session file into the settings: 0 on success, -1 with the settings unchanged.
int loadSessionFile(const char* path);
const int SESSION_NOT_OPENED = -1;
const int SESSION_NOT_WRITTEN = -2;
// Writes the current settings at the start of the file, without truncating it: 0 when
// the whole record is written, SESSION_NOT_OPENED when the file could not be opened
// (nothing is written), SESSION_NOT_WRITTEN when the write failed or fell short.
int writeSessionFile(const char* path);

#endif
