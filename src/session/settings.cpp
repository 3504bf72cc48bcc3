#include "session/settings.h"

#include <cstring>

const char DEFAULT_SERVER_ADDRESS[] = "0.0.0.0";

char serverAddress[SERVER_ADDRESS_SIZE] = "0.0.0.0";
std::uint32_t serverPort = DEFAULT_SERVER_PORT;
char capturePath[CAPTURE_PATH_SIZE] = "";
bool autoWrap = false;

void copyTextField(char* field, std::size_t size, const char* text) {
    if (size == 0) return;
    std::size_t length = std::strlen(text);
    if (length > size - 1) length = size - 1;
    std::memmove(field, text, length);
    field[length] = '\0';
}
