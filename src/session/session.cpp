#include "session/session.h"

#include <cstdlib>
#include <cstring>

#include "capture/recorder.h"
#include "platform.h"
#include "session/record.h"
#include "session/settings.h"

char* sessionPath = nullptr;
std::size_t sessionPathSize = 0;
bool sessionUnnamed = false;
char titleBuffer[TITLE_SIZE] = "";

namespace {

const std::size_t SHORTEST_SESSION_PATH = 3;
const std::size_t EXECUTABLE_PATH_SIZE = 260;
// What a full path may add to a relative one: the current folder and a separator.
const std::size_t FULL_PATH_ROOM = 2 * 260;

// Appends text to a field of `size` bytes that already holds a terminated text,
// cutting what does not fit.
void appendTextField(char* field, std::size_t size, const char* text, std::size_t length) {
    std::size_t used = std::strlen(field);
    if (used >= size - 1) return;
    if (length > size - 1 - used) length = size - 1 - used;
    std::memcpy(field + used, text, length);
    field[used + length] = '\0';
}

// The session path from the command line: a leading double quote drops the first
// and the last character; otherwise the whole text is the path.
void takeSessionPath(const char* commandLine) {
    std::size_t length = std::strlen(commandLine);
    sessionPathSize = length + 1 > SESSION_PATH_MIN_SIZE ? length + 1 : SESSION_PATH_MIN_SIZE;
    sessionPath = static_cast<char*>(std::calloc(sessionPathSize, 1));
    if (sessionPath == nullptr) {
        sessionPathSize = 0;
        return;
    }
    if (commandLine[0] == '"') {
        if (length >= 2) std::memcpy(sessionPath, commandLine + 1, length - 2);
    } else {
        std::memcpy(sessionPath, commandLine, length);
    }
}

// A relative session path is taken from the current folder at start-up and kept
// whole, so that the close writes where the start read, whatever folder a chooser
// may have moved to meanwhile. A path that cannot be made whole stays as it is.
void makeSessionPathWhole() {
    std::size_t size = std::strlen(sessionPath) + 1 + FULL_PATH_ROOM;
    char* whole = static_cast<char*>(std::calloc(size, 1));
    if (whole == nullptr) return;
    if (!getFullPath(sessionPath, whole, size)) {
        std::free(whole);
        return;
    }
    std::free(sessionPath);
    sessionPath = whole;
    sessionPathSize = size;
}

}  // namespace

void composeSessionTitle(const char* path, char (&title)[TITLE_SIZE]) {
    copyTextField(title, TITLE_SIZE, TITLE_PREFIX);
    const char* base = std::strrchr(path, '\\');
    base = base ? base + 1 : path;
    const char* stop = std::strchr(base, '.');
    std::size_t length = stop ? static_cast<std::size_t>(stop - base) : std::strlen(base);
    appendTextField(title, TITLE_SIZE, base, length);
}

void setSessionDefaults() {
    titleBuffer[0] = '\0';
    serverPort = DEFAULT_SERVER_PORT;
    copyTextField(serverAddress, sizeof serverAddress, DEFAULT_SERVER_ADDRESS);
    char executable[EXECUTABLE_PATH_SIZE];
    std::memset(executable, 0, sizeof executable);
    getExecutablePath(executable, sizeof executable);
    executable[sizeof executable - 1] = '\0';
    const char* lastBackslash = std::strrchr(executable, '\\');
    std::size_t directoryLength =
        lastBackslash ? static_cast<std::size_t>(lastBackslash - executable) + 1 : 0;
    capturePath[0] = '\0';
    appendTextField(capturePath, sizeof capturePath, executable, directoryLength);
    appendTextField(capturePath, sizeof capturePath, DEFAULT_CAPTURE_NAME,
                    std::strlen(DEFAULT_CAPTURE_NAME));
    sessionUnnamed = true;
}

void applyCommandLine(const char* commandLine) {
    sessionUnnamed = false;
    releaseSessionPath();
    takeSessionPath(commandLine ? commandLine : "");
    if (sessionPath == nullptr || std::strlen(sessionPath) < SHORTEST_SESSION_PATH) {
        setSessionDefaults();
        return;
    }
    composeSessionTitle(sessionPath, titleBuffer);  // from the name as it was given
    makeSessionPathWhole();
    if (loadSessionFile(sessionPath) == 0) {
        setWindowTitle(titleBuffer);
        return;
    }
    showErrorBox(INIT_FILE_PROBLEM_TEXT, FILE_PROBLEM_CAPTION);
    setSessionDefaults();
}

void saveSession() {
    if (sessionPath == nullptr) return;
    if (sessionUnnamed) {
        copyTextField(sessionPath, sessionPathSize, " ");
        if (!askYesNo(SAVE_QUESTION_TEXT, SAVE_QUESTION_CAPTION)) return;
        if (!chooseSessionFile(sessionPath, SESSION_PATH_MIN_SIZE)) return;
    }
    int written = writeSessionFile(sessionPath);
    if (written == SESSION_NOT_OPENED) showErrorBox(FILE_PROBLEM_TEXT, FILE_PROBLEM_CAPTION);
    if (written == SESSION_NOT_WRITTEN) showErrorBox(INIT_FILE_PROBLEM_TEXT, FILE_PROBLEM_CAPTION);
}

void endWithTheSystemSession() {
    if (sessionPath != nullptr && !sessionUnnamed) writeSessionFile(sessionPath);
    if (captureMode != CAPTURE_OFF) stopCapture();
}

void releaseSessionPath() {
    std::free(sessionPath);
    sessionPath = nullptr;
    sessionPathSize = 0;
}
