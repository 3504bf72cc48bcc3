// The capture recorder: received bytes appended, raw, to the capture file.
#ifndef ORU_RECORDER_H
#define ORU_RECORDER_H

#include <cstddef>

#include "platform.h"

const int CAPTURE_OFF = 0;
const int CAPTURE_RECORDING = 1;
const int CAPTURE_PAUSED = 2;

const char FILE_PROBLEM_TEXT[] = "Probleme avec le fichier !! ";
const char FILE_PROBLEM_CAPTION[] = "erreur";

extern int captureMode;
extern FileHandle captureFile;  // open exactly while captureMode is not CAPTURE_OFF

// Received bytes written to the file with one write, while recording. False when the
// write failed or fell short: the capture has then been stopped, and what was written
// before stays in the file.
bool captureWriteBytes(const unsigned char* bytes, std::size_t count);
// Tells the user that the capture file could not be written.
void reportCaptureProblem();
// The capture commands of the menu.
void startCapture();
void stopCapture();
void pauseCapture();
void resumeCapture();
// Closes the capture file if it is open; used when the window goes.
void closeCaptureFile();

#endif
