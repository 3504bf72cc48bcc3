#include "net/address.h"

#include <cstdlib>

#include "platform.h"
#include "session/settings.h"

std::uint32_t listenAddress = NO_ADDRESS;

namespace {
const int FIELD_MAX = 3;
const int DOTS_REQUIRED = 3;
const int FIELD_VALUE_MAX = 255;
const std::uint32_t PORT_MAX = 65535;

// The dotted pre-check: exactly three dots, no leading dot, fields of at most three
// characters, and the first three fields no greater than 255.
bool passesDottedPreCheck(const char* text) {
    char field[FIELD_MAX + 1] = {0};
    int fieldLength = 0;
    int dots = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p != '.') {
            if (fieldLength >= FIELD_MAX) return false;
            field[fieldLength++] = *p;
            continue;
        }
        dots++;
        if (p == text) return false;
        field[fieldLength] = '\0';
        if (std::atoi(field) > FIELD_VALUE_MAX) return false;
        if (dots > DOTS_REQUIRED) return false;
        fieldLength = 0;
    }
    return dots >= DOTS_REQUIRED;
}
}  // namespace

int checkListenAddress(const char* text) {
    if (!passesDottedPreCheck(text)) return -1;
    listenAddress = convertIpv4Address(text);
    return listenAddress == NO_ADDRESS ? -1 : 0;
}

int validateServerSettings() {
    if (checkListenAddress(serverAddress) != 0) {
        showErrorBox(ADDRESS_ERROR_TEXT, VALIDATION_CAPTION);
        return 1;
    }
    if (serverPort < 1 || serverPort > PORT_MAX) {
        showErrorBox(PORT_ERROR_TEXT, VALIDATION_CAPTION);
        return 2;
    }
    return 0;
}
