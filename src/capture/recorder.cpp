#include "capture/recorder.h"

#include "session/settings.h"
#include "ui/resource.h"

int captureMode = CAPTURE_OFF;
FileHandle captureFile = NO_FILE;

bool captureWriteBytes(const unsigned char* bytes, std::size_t count) {
    if (captureFile == NO_FILE || captureMode != CAPTURE_RECORDING || count == 0) return true;
    if (writeFileBytes(captureFile, bytes, count)) return true;
    stopCapture();  // every later byte would be lost: the capture ends here
    return false;
}

void reportCaptureProblem() {
    showErrorBox(FILE_PROBLEM_TEXT, FILE_PROBLEM_CAPTION);
}

void startCapture() {
    if (runDialog(IDD_CAPTURE) != 0) return;
    FileHandle file = openFileForWriting(capturePath);
    // A capture that cannot start at the file's end would overwrite its start.
    if (file != NO_FILE && !moveFileToEnd(file)) {
        closeFile(file);
        file = NO_FILE;
    }
    if (file == NO_FILE) {
        showErrorBox(FILE_PROBLEM_TEXT, FILE_PROBLEM_CAPTION);
        return;
    }
    captureFile = file;
    captureMode = CAPTURE_RECORDING;
    attachCaptureMenu();
}

void stopCapture() {
    closeCaptureFile();
    detachCaptureMenu();
}

void pauseCapture() {
    enableMenuPair(IDM_CAPTURE_RESUME, IDM_CAPTURE_PAUSE);
    captureMode = CAPTURE_PAUSED;
}

void resumeCapture() {
    enableMenuPair(IDM_CAPTURE_PAUSE, IDM_CAPTURE_RESUME);
    captureMode = CAPTURE_RECORDING;
}

void closeCaptureFile() {
    if (captureFile != NO_FILE) {
        closeFile(captureFile);
        captureFile = NO_FILE;
    }
    captureMode = CAPTURE_OFF;
}
