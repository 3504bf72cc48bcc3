// The session's life: command line, defaults, title and the save at close.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "session/record.h"
#include "session/session.h"
#include "session/settings.h"

namespace {

typedef std::vector<std::string> Lines;

const Bytes LAB_RECORD = {'1', '0', '.', '0', '.', '0', '.', '2', 0, 0x90, 0x1F, 0,
                          'C', ':', '\\', 'c', 'a', 'p', '.', 't', 'x', 't', 0, 0x01};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetAll();
        fake.executablePath = "C:\\Tools\\term.exe";
    }
    void TearDown() override { resetAll(); }

    static std::string title(const std::string& path) {
        char buffer[TITLE_SIZE];
        std::memset(buffer, 'X', sizeof buffer);
        composeSessionTitle(path.c_str(), buffer);
        return buffer;
    }
    static void expectDefaults() {
        EXPECT_STREQ("0.0.0.0", serverAddress);
        EXPECT_EQ(9000u, serverPort);
        EXPECT_STREQ("C:\\Tools\\capture.txt", capturePath);
        EXPECT_TRUE(sessionUnnamed);
        EXPECT_STREQ("", titleBuffer);
    }
};

TEST_F(SessionTest, QuotedPathWithBlanksLoadsAndTitlesTheWindow) {
    fake.files["C:\\My Sessions\\lab.sip"] = LAB_RECORD;
    applyCommandLine("\"C:\\My Sessions\\lab.sip\"");
    EXPECT_STREQ("C:\\My Sessions\\lab.sip", sessionPath);
    EXPECT_GE(sessionPathSize, SESSION_PATH_MIN_SIZE);
    EXPECT_FALSE(sessionUnnamed);
    EXPECT_EQ(Lines({"openRead C:\\My Sessions\\lab.sip -> 3", "read 3 512 -> 24", "close file 3",
                     "title Dazirar OrU :  lab"}),
              fake.trace);
    EXPECT_STREQ("10.0.0.2", serverAddress);
    EXPECT_EQ(8080u, serverPort);
    EXPECT_STREQ("C:\\cap.txt", capturePath);
    EXPECT_TRUE(autoWrap);
}

TEST_F(SessionTest, CommandLineForms) {
    struct Case {
        const char* commandLine;
        const char* path;  // what is opened; null when nothing is
    };
    const Case cases[] = {
        {"C:\\s\\lab.sip", "C:\\s\\lab.sip"},
        {"\"C:\\s\\lab.sip", "C:\\s\\lab.si"},           // one-sided quote: last character lost
        {"C:\\a b\\x.sip -v extra", "C:\\a b\\x.sip -v extra"},  // several words, one path
        {"lab.sip", "lab.sip"},
        {"abc", "abc"},
        {"", nullptr},
        {"ab", nullptr},
        {"a", nullptr},
        {"\"ab\"", nullptr},
        {"\"a", nullptr},
        {"\"", nullptr},
        {"\"\"", nullptr},
    };
    for (const Case& c : cases) {
        resetAll();
        fake.executablePath = "C:\\Tools\\term.exe";
        autoWrap = true;  // defaults never touch it
        applyCommandLine(c.commandLine);
        if (c.path == nullptr) {
            EXPECT_EQ(Lines({"getExecutablePath 260"}), fake.trace) << c.commandLine;
            expectDefaults();
        } else {
            EXPECT_STREQ(c.path, sessionPath) << c.commandLine;
            EXPECT_EQ(Lines({std::string("openRead ") + c.path + " -> fail",
                             "errorBox Probleme avec le fichier d'initialisation!! |erreur",
                             "getExecutablePath 260"}),
                      fake.trace)
                << c.commandLine;
            expectDefaults();
        }
        EXPECT_TRUE(autoWrap);
        EXPECT_EQ(std::string(), fake.windowTitle);
    }
}

TEST_F(SessionTest, TitleIsThePrefixAndTheBaseNameUpToItsFirstFullStop) {
    EXPECT_EQ("Dazirar OrU :  lab", title("C:\\sessions\\lab.test.sip"));
    EXPECT_EQ("Dazirar OrU :  lab", title("lab.sip"));
    EXPECT_EQ("Dazirar OrU :  lab", title("C:\\my.dir\\lab.sip"));
    EXPECT_EQ("Dazirar OrU :  noext", title("C:\\s\\noext"));
    EXPECT_EQ("Dazirar OrU :  C:/dir", title("C:/dir.x/lab.sip"));  // '/' separates nothing
    EXPECT_EQ("Dazirar OrU :  C:/dir/lab", title("C:/dir/lab.sip"));
    EXPECT_EQ("Dazirar OrU :  ", title("C:\\s\\.hidden.sip"));
    EXPECT_EQ("Dazirar OrU :  ", title("C:\\s\\"));

    std::string base(300, 'n');
    std::string cut = title("C:\\s\\" + base + ".sip");
    EXPECT_LE(cut.size(), TITLE_SIZE - 1);
    EXPECT_GT(cut.size(), std::strlen(TITLE_PREFIX));
    EXPECT_EQ(std::string(TITLE_PREFIX), cut.substr(0, 15));
    EXPECT_EQ(std::string(cut.size() - 15, 'n'), cut.substr(15));
}

TEST_F(SessionTest, VeryLongArgumentLoadsWholeAndTheTitleFits) {
    std::string path = "C:\\" + std::string(400, 'd') + "\\" + std::string(300, 'b') + ".sip";
    fake.files[path] = LAB_RECORD;
    applyCommandLine(path.c_str());
    EXPECT_EQ(path, std::string(sessionPath));
    EXPECT_GT(sessionPathSize, path.size());
    EXPECT_FALSE(sessionUnnamed);
    EXPECT_LE(std::strlen(titleBuffer), TITLE_SIZE - 1);
    EXPECT_EQ(0u, std::string(titleBuffer).rfind(TITLE_PREFIX, 0));
    fake.trace.clear();
    saveSession();  // written back to the whole path
    EXPECT_EQ("openWrite " + path + " -> 4", fake.trace.at(0));
}

TEST_F(SessionTest, DefaultCapturePathIsTheExecutableDirectory) {
    struct Case {
        std::string executable;
        std::string capture;
    };
    const Case cases[] = {
        {"C:\\Tools\\term.exe", "C:\\Tools\\capture.txt"},
        {"C:\\a\\b\\c\\x.exe", "C:\\a\\b\\c\\capture.txt"},
        {"term.exe", "capture.txt"},
        {"", "capture.txt"},  // the path could not be had
    };
    for (const Case& c : cases) {
        fake.executablePath = c.executable;
        capturePath[0] = 'Z';
        setSessionDefaults();
        EXPECT_EQ(c.capture, std::string(capturePath)) << c.executable;
    }
    // A directory so long that the default does not fit is cut within the field.
    fake.executablePath = "C:\\" + std::string(252, 'd') + "\\t.exe";
    setSessionDefaults();
    EXPECT_LE(std::strlen(capturePath), CAPTURE_PATH_SIZE - 1);
    EXPECT_EQ(0u, std::string(capturePath).rfind("C:\\ddd", 0));
}

TEST_F(SessionTest, LoadedSessionIsSavedSilently) {
    fake.files["C:\\s\\lab.sip"] = LAB_RECORD;
    applyCommandLine("C:\\s\\lab.sip");
    serverPort = 9000;
    autoWrap = false;
    fake.trace.clear();
    saveSession();
    EXPECT_EQ(Lines({"openWrite C:\\s\\lab.sip -> 4", "write 4 24 bytes", "close file 4"}),
              fake.trace);
    SessionSettings out;
    const Bytes& saved = fake.files["C:\\s\\lab.sip"];
    ASSERT_EQ(0, decodeSessionRecord(saved.data(), saved.size(), &out));
    EXPECT_EQ(9000u, out.port);
    EXPECT_FALSE(out.autoWrap);

    // The file has become read-only meanwhile.
    fake.unwritable.insert("C:\\s\\lab.sip");
    fake.trace.clear();
    saveSession();
    EXPECT_EQ(Lines({"openWrite C:\\s\\lab.sip -> fail",
                     "errorBox Probleme avec le fichier !! |erreur"}),
              fake.trace);

    // The volume is full: the write falls short, and that is told too.
    fake.unwritable.clear();
    fake.writeRoom = 5;
    fake.trace.clear();
    saveSession();
    EXPECT_EQ(Lines({"openWrite C:\\s\\lab.sip -> 5", "write 5 24 bytes", "write fell short: 5",
                     "close file 5", "errorBox Probleme avec le fichier d'initialisation!! |erreur"}),
              fake.trace);
    EXPECT_TRUE(fake.openFiles.empty());
}

TEST_F(SessionTest, UnnamedSessionAsksThenOffersSaveAs) {
    const std::string question = "askYesNo Voulez-vous enregistrer la session?|Fin de session";
    // A missing file: at close the chooser proposes a blank, not the missing path.
    applyCommandLine("C:\\gone.sip");
    fake.trace.clear();
    saveSession();  // answered No
    EXPECT_EQ(Lines({question}), fake.trace);
    EXPECT_STREQ(" ", sessionPath);
    EXPECT_EQ(0u, fake.files.size());

    fake.yesNoAnswer = true;
    fake.trace.clear();
    saveSession();  // Save As cancelled
    EXPECT_EQ(Lines({question, "chooseSessionFile  |260"}), fake.trace);
    EXPECT_EQ(0u, fake.files.size());

    fake.chooserAccepts = true;
    fake.chosenPath = "C:\\new.sip";
    fake.trace.clear();
    saveSession();
    EXPECT_EQ(Lines({question, "chooseSessionFile  |260", "openWrite C:\\new.sip -> 3",
                     "write 3 33 bytes", "close file 3"}),
              fake.trace);
    EXPECT_STREQ("C:\\new.sip", sessionPath);
    ASSERT_EQ(1u, fake.files.count("C:\\new.sip"));

    fake.unwritable.insert("C:\\ro.sip");
    fake.chosenPath = "C:\\ro.sip";
    fake.trace.clear();
    saveSession();
    EXPECT_EQ("errorBox Probleme avec le fichier !! |erreur", fake.trace.back());
    EXPECT_EQ(0u, fake.files.count("C:\\ro.sip"));
}

TEST_F(SessionTest, NoArgumentAsksAtCloseToo) {
    applyCommandLine("");
    fake.trace.clear();
    saveSession();
    EXPECT_EQ(1u, traceCount("askYesNo Voulez-vous enregistrer la session?|Fin de session"));
    releaseSessionPath();
    EXPECT_EQ(nullptr, sessionPath);
}

}  // namespace
