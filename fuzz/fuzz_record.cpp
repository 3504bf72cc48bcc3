// Fuzzes the session record decoder with 1 to 512 arbitrary bytes.
//
// Independently of the decoder, the input is judged decodable when it has a zero
// byte, the address before it fits its 19 characters and the path after the port
// fits its 259. A decoded record is encoded again: the new record must agree with
// the input byte for byte wherever the input had a byte (apart from the separator,
// which is never read, and the wrap byte, which only counts as 0x01 or not), and
// decoding it must give back the same settings.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "session/record.h"

namespace {

void fail(const char* what) {
    std::fprintf(stderr, "session record: %s\n", what);
    std::abort();
}

std::size_t zeroAtOrAfter(const std::uint8_t* data, std::size_t size, std::size_t from) {
    std::size_t at = from;
    while (at < size && data[at] != 0) at++;
    return at;
}

bool sameSettings(const SessionSettings& a, const SessionSettings& b) {
    return std::strcmp(a.address, b.address) == 0 && a.port == b.port &&
           std::strcmp(a.path, b.path) == 0 && a.autoWrap == b.autoWrap;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > SESSION_BUFFER_SIZE) return 0;

    std::size_t addressEnd = zeroAtOrAfter(data, size, 0);
    std::size_t pathStart = addressEnd + 4;
    std::size_t pathEnd = pathStart < size ? zeroAtOrAfter(data, size, pathStart) : pathStart;
    bool decodable = addressEnd < size && addressEnd <= SERVER_ADDRESS_SIZE - 1 &&
                     pathEnd - pathStart <= CAPTURE_PATH_SIZE - 1;

    SessionSettings decoded;
    std::memset(&decoded, 0x5A, sizeof decoded);
    int result = decodeSessionRecord(data, size, &decoded);
    if (result != 0 && result != -1) fail("result is neither 0 nor -1");
    if ((result == 0) != decodable) fail("accepted or refused against the record's shape");
    if (result != 0) return 0;

    std::size_t addressLength = std::strlen(decoded.address);
    std::size_t pathLength = std::strlen(decoded.path);
    if (addressLength != addressEnd) fail("address length");
    if (pathLength != pathEnd - pathStart) fail("path length");
    if (decoded.port > 0xFFFF) fail("port above 65535");

    unsigned char record[SESSION_BUFFER_SIZE];
    std::size_t length = encodeSessionRecord(decoded, record);
    if (length != addressLength + pathLength + 6) fail("record length");
    if (length > SESSION_RECORD_MAX) fail("record longer than 284 bytes");
    if (record[addressEnd] != 0 || record[addressEnd + 3] != 0 || record[length - 2] != 0)
        fail("terminator or separator not zero");
    unsigned char wrapByte = record[length - 1];
    if (wrapByte != (decoded.autoWrap ? AUTOWRAP_ON_BYTE : AUTOWRAP_OFF_BYTE))
        fail("wrap byte");
    for (std::size_t i = 0; i < length && i < size; i++) {
        if (i == addressEnd + 3) continue;
        if (i == length - 1) {
            if ((data[i] == AUTOWRAP_ON_BYTE) != decoded.autoWrap) fail("wrap flag");
            continue;
        }
        if (record[i] != data[i]) fail("re-encoded byte differs from the input");
    }

    SessionSettings again;
    std::memset(&again, 0x5A, sizeof again);
    if (decodeSessionRecord(record, length, &again) != 0) fail("own record refused");
    if (!sameSettings(decoded, again)) fail("round trip changed the settings");
    return 0;
}
