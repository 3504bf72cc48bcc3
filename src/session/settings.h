// The four settings that the session file keeps, shared by the session code,
// the dialogs, the link and the terminal.
#ifndef ORU_SETTINGS_H
#define ORU_SETTINGS_H

#include <cstddef>
#include <cstdint>

const std::size_t SERVER_ADDRESS_SIZE = 20;  // up to 19 characters and a terminator
const std::size_t CAPTURE_PATH_SIZE = 260;   // up to 259 characters and a terminator
const std::uint32_t DEFAULT_SERVER_PORT = 9000;
extern const char DEFAULT_SERVER_ADDRESS[];

extern char serverAddress[SERVER_ADDRESS_SIZE];
extern std::uint32_t serverPort;
extern char capturePath[CAPTURE_PATH_SIZE];
extern bool autoWrap;

// A path chosen for the capture or the session that the session file, whose paths
// are in Windows' ANSI code page, cannot hold: it is refused, saying so.
const char PATH_OUTSIDE_CODE_PAGE_TEXT[] =
    "Chemin refuse : il a des caracteres que la page de code de Windows n'a pas, "
    "et le fichier de session ne peut pas les garder. ";

// Copies text into a field of `size` bytes, cutting it to size - 1 characters
// and always terminating it.
void copyTextField(char* field, std::size_t size, const char* text);

#endif
