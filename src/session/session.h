// The session's life: the command line at start-up, the defaults, the title,
// and the save when the window closes.
#ifndef ORU_SESSION_H
#define ORU_SESSION_H

#include <cstddef>

const std::size_t TITLE_SIZE = 260;
const std::size_t SESSION_PATH_MIN_SIZE = 260;
const char APP_TITLE[] = "Dazirar OrU";
const char TITLE_PREFIX[] = "Dazirar OrU :  ";
const char INIT_FILE_PROBLEM_TEXT[] = "Probleme avec le fichier d'initialisation!! ";
const char SAVE_QUESTION_TEXT[] = "Voulez-vous enregistrer la session?";
const char SAVE_QUESTION_CAPTION[] = "Fin de session";
const char DEFAULT_CAPTURE_NAME[] = "capture.txt";

extern char* sessionPath;
extern std::size_t sessionPathSize;
extern bool sessionUnnamed;
extern char titleBuffer[TITLE_SIZE];

// Turns the raw command-line text into sessionPath and loads it, or sets the defaults.
void applyCommandLine(const char* commandLine);
void setSessionDefaults();
// The title for a loaded session path, cut to fit the title buffer.
void composeSessionTitle(const char* path, char (&title)[TITLE_SIZE]);
// Saves the settings at close: silently to a loaded file, otherwise after asking.
void saveSession();
// The system's session ends, and the program with it, with no close: a loaded
// session is saved without a word, whatever comes of it (an unnamed one is not:
// nothing can be asked then), and a running capture is stopped.
void endWithTheSystemSession();
void releaseSessionPath();

#endif
