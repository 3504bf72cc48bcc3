// Session and capture file operations, and the Save As chooser of their paths.
#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "app/app_win32.h"
#include "capture/recorder.h"
#include "platform.h"
#include "session/settings.h"

namespace {
HANDLE asHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle fromHandle(HANDLE handle) { return reinterpret_cast<FileHandle>(handle); }
const wchar_t SESSION_FILTER[] = L"Fichier cfg dazirar Oru\0*.sip\0";
const wchar_t PCAPNG_FILTER[] = L"pcapng (*.pcapng)\0*.pcapng\0";
const std::size_t CHOOSER_PATH_SIZE = 260;

// A serial port would make a read wait for bytes that never come: anything that is
// not a file on a disk is closed before it is read or written.
FileHandle keepDiskFilesOnly(HANDLE opened) {
    if (opened != INVALID_HANDLE_VALUE && GetFileType(opened) != FILE_TYPE_DISK) {
        CloseHandle(opened);
        return NO_FILE;
    }
    return fromHandle(opened);
}
}  // namespace

FileHandle openFileForReading(const char* path) {
    return keepDiskFilesOnly(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle openFileForWriting(const char* path) {
    return keepDiskFilesOnly(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle openFileToSend(const char* path) {
    const DWORD everyoneElse = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return keepDiskFilesOnly(CreateFileW(wideFromUtf8(path).c_str(), GENERIC_READ, everyoneElse, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle openFileToReplace(const char* path) {
    return keepDiskFilesOnly(CreateFileW(wideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A 64-bit move: with a 32-bit one, a file of 4 GiB or more would leave the
// position at its start.
bool moveFileToEnd(FileHandle file) {
    LARGE_INTEGER none;
    none.QuadPart = 0;
    return SetFilePointerEx(asHandle(file), none, nullptr, FILE_END) != FALSE;
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

bool fileSizeOf(FileHandle file, std::uint64_t* size) {
    LARGE_INTEGER got;
    if (!GetFileSizeEx(asHandle(file), &got) || got.QuadPart < 0) return false;
    *size = static_cast<std::uint64_t>(got.QuadPart);
    return true;
}

void closeFile(FileHandle file) {
    CloseHandle(asHandle(file));
}

namespace {

// Runs the system's chooser: Save As with `save`, Open otherwise, with the flags
// given beside the two the program always wants. `path` holds the name proposed and
// its room (at least the proposal and a terminator), and the name chosen when it
// returns true. The current folder stays where it was: a session named by a
// relative path is still written where it was read.
bool runChooser(const FileChoice& choice, bool save, DWORD flags, std::wstring* path) {
    OPENFILENAMEW request;
    ZeroMemory(&request, sizeof request);
    request.lStructSize = sizeof request;
    request.hwndOwner = choice.owner;
    request.lpstrFilter = choice.filter;
    request.nFilterIndex = 1;
    request.lpstrFile = &(*path)[0];
    request.nMaxFile = static_cast<DWORD>(path->size());
    request.lpstrInitialDir = choice.initialFolder;
    request.lpstrTitle = choice.caption;
    request.lpstrDefExt = choice.extension;
    request.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | flags;
    if (!(save ? GetSaveFileNameW(&request) : GetOpenFileNameW(&request))) return false;
    path->resize(static_cast<std::size_t>(lstrlenW(path->c_str())));
    return true;
}

}  // namespace

bool chooseAnsiPathToSave(const FileChoice& choice, const char* proposed, std::string* chosen) {
    wchar_t proposal[CHOOSER_PATH_SIZE];
    MultiByteToWideChar(CP_ACP, 0, proposed, -1, proposal, static_cast<int>(CHOOSER_PATH_SIZE));
    proposal[CHOOSER_PATH_SIZE - 1] = L'\0';
    std::wstring path = proposal;
    for (;;) {
        // The chooser writes into a buffer of its own: on a cancel or a name that does
        // not fit it may leave anything there.
        path.resize(CHOOSER_PATH_SIZE, L'\0');
        if (!runChooser(choice, true, OFN_NOREADONLYRETURN, &path)) return false;
        if (ansiFromWide(path, chosen)) return true;
        showErrorBox(PATH_OUTSIDE_CODE_PAGE_TEXT, FILE_PROBLEM_CAPTION);
    }
}

std::string chooseFileByName(const FileChoice& choice, bool toSave) {
    std::wstring path(32768, L'\0');  // room for the longest path the wide calls take
    const DWORD flags = toSave ? OFN_OVERWRITEPROMPT | OFN_NOREADONLYRETURN
                               : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    return runChooser(choice, toSave, flags, &path) ? utf8FromWide(path) : std::string();
}

std::string choosePcapngFile(const char* title) {
    const std::wstring caption = wideFromUtf8(title);
    const FileChoice choice = {mainWindow, caption.c_str(), PCAPNG_FILTER, L"pcapng", nullptr};
    return chooseFileByName(choice, true);
}

bool chooseSessionFile(char* path, std::size_t capacity) {
    const FileChoice choice = {mainWindow, L"Enregistrement de la session", SESSION_FILTER, L"sip", nullptr};
    std::string chosen;
    if (!chooseAnsiPathToSave(choice, path, &chosen)) return false;
    lstrcpynA(path, chosen.c_str(), static_cast<int>(capacity));
    return true;
}
