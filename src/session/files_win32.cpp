// Session and capture file operations, and the session's Save As chooser.
#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "app/app_win32.h"
#include "platform.h"

namespace {
HANDLE asHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle fromHandle(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }
const char SESSION_FILTER[] = "Fichier cfg dazirar Oru\0*.sip\0";
const std::size_t CHOOSER_PATH_SIZE = 260;
}  // namespace

FileHandle openFileForReading(const char* path) {
    return fromHandle(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle openFileForWriting(const char* path) {
    return fromHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

void moveFileToEnd(FileHandle file) {
    SetFilePointer(asHandle(file), 0, nullptr, FILE_END);
}

bool writeFileBytes(FileHandle file, const void* data, std::size_t count) {
    DWORD written = 0;
    BOOL done = WriteFile(asHandle(file), data, static_cast<DWORD>(count), &written, nullptr);
    return done && written == count;
}

std::size_t readFileBytes(FileHandle file, void* buffer, std::size_t count) {
    DWORD read = 0;
    ReadFile(asHandle(file), buffer, static_cast<DWORD>(count), &read, nullptr);
    return read;
}

void closeFile(FileHandle file) {
    CloseHandle(asHandle(file));
}

bool chooseSessionFile(char* path, std::size_t capacity) {
    // The chooser writes into a buffer of its own: on a cancel or a name that does
    // not fit it may leave anything there, and the session path must stay whole.
    char chosen[CHOOSER_PATH_SIZE];
    lstrcpynA(chosen, path, static_cast<int>(sizeof chosen));
    OPENFILENAMEA request;
    ZeroMemory(&request, sizeof request);
    request.lStructSize = sizeof request;
    request.hwndOwner = mainWindow;
    request.lpstrFilter = SESSION_FILTER;
    request.nFilterIndex = 1;
    request.lpstrFile = chosen;
    request.nMaxFile = sizeof chosen;
    request.lpstrTitle = "Enregistrement de la session";
    request.Flags = OFN_EXPLORER | OFN_NOREADONLYRETURN;
    request.lpstrDefExt = "sip";
    if (!GetSaveFileNameA(&request)) return false;
    lstrcpynA(path, chosen, static_cast<int>(capacity));
    return true;
}
