// The menu and dialog templates read back from the resources, field by field, both
// from this test program (built from the same script) and from the program itself,
// and the program's resource types.
#include "harness.h"

#include <cctype>
#include <cstdio>

#include "ui/resource.h"

namespace {

const WORD ENGLISH_US = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// A reader over one resource's bytes.
struct Cursor {
    const unsigned char* data;
    size_t size;
    size_t at;
    bool overrun;
};

WORD word(Cursor& c) {
    if (c.at + 2 > c.size) {
        c.overrun = true;
        return 0;
    }
    WORD w = static_cast<WORD>(c.data[c.at] | (c.data[c.at + 1] << 8));
    c.at += 2;
    return w;
}

DWORD dword(Cursor& c) {
    DWORD low = word(c);
    DWORD high = word(c);
    return low | (high << 16);
}

short shortValue(Cursor& c) {
    return static_cast<short>(word(c));
}

// A zero-terminated UTF-16 text of ASCII characters; '?' for anything else.
std::string text(Cursor& c) {
    std::string s;
    for (WORD w = word(c); w != 0 && !c.overrun; w = word(c)) {
        s += w < 128 ? static_cast<char>(w) : '?';
    }
    return s;
}

// A name-or-ordinal field, given as "#n" for an ordinal.
std::string nameOrOrdinal(Cursor& c) {
    WORD first = word(c);
    if (first == 0) return "";
    if (first == 0xFFFF) return "#" + std::to_string(word(c));
    c.at -= 2;
    return text(c);
}

void alignDword(Cursor& c) {
    c.at = (c.at + 3) & ~static_cast<size_t>(3);
}

// The class of a control: the predefined ordinals read as their names.
std::string controlClass(Cursor& c) {
    std::string name = nameOrOrdinal(c);
    if (name == "#128") return "BUTTON";
    if (name == "#129") return "EDIT";
    if (name == "#130") return "STATIC";
    for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return name;
}

bool findResource(HMODULE module, LPCSTR type, int id, Cursor* out) {
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), ENGLISH_US);
    if (found == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return false;
    out->data = static_cast<const unsigned char*>(LockResource(loaded));
    out->size = SizeofResource(module, found);
    out->at = 0;
    out->overrun = false;
    return out->data != nullptr;
}

struct ControlExpected {
    const char* cls;
    WORD id;
    const char* title;  // "#n" for an ordinal
    short x, y, cx, cy;
    DWORD style;
};

struct DialogExpected {
    int id;
    const char* caption;
    DWORD style;
    short x, y, cx, cy;
    std::vector<ControlExpected> controls;
};

const WORD NO_ID = 0xFFFF;

std::vector<DialogExpected> expectedDialogs() {
    return {
        {IDD_PROPERTIES, "Proprietes", 0x90C00000, 0, 0, 120, 76,
         {{"STATIC", NO_ID, "Adresse IP", 5, 3, 50, 12, 0x50020001},
          {"EDIT", IDC_ADDRESS, "", 55, 2, 60, 12, 0x50810000},
          {"STATIC", NO_ID, "Port", 5, 18, 50, 12, 0x50002001},
          {"EDIT", IDC_PORT, "", 55, 17, 60, 12, 0x50810000},
          {"BUTTON", IDC_AUTOWRAP, "Retour a la ligne automatique", 5, 40, 110, 12, 0x50010003},
          {"BUTTON", IDOK, "OK", 12, 58, 40, 12, 0x50010001},
          {"BUTTON", IDCANCEL, "Annuler", 57, 58, 50, 12, 0x50010000}}},
        {IDD_CAPTURE, "parametres du fichier de capture", 0x90C00000, 0, 0, 200, 60,
         {{"STATIC", NO_ID, "Fichier ", 2, 3, 40, 12, 0x50020001},
          {"EDIT", IDC_CAPTURE_PATH, "", 42, 2, 120, 12, 0x50810000},
          {"BUTTON", IDC_BROWSE, "...", 165, 2, 16, 12, 0x50010000},
          {"BUTTON", IDOK, "Demarrer", 50, 40, 40, 12, 0x50010001},
          {"BUTTON", IDCANCEL, "Annuler", 107, 40, 50, 12, 0x50010000}}},
        {IDD_ABOUT, "A propos", 0x90C80000, 60, 60, 150, 80,
         {{"BUTTON", IDOK, "Ok", 56, 50, 42, 12, 0x50010001},
          {"STATIC", NO_ID, "#2", 20, 15, 0, 0, 0x50000003},
          {"STATIC", NO_ID, "Zidevi VAD eve 0", 50, 18, 80, 10, 0x50020000},
          {"STATIC", NO_ID, nullptr, 30, 32, 100, 10, 0x50020000}}},  // the notice: any text
    };
}

void checkDialogTemplate(HMODULE module, const DialogExpected& want) {
    SCOPED_TRACE("dialog " + std::to_string(want.id));
    Cursor c;
    ASSERT_TRUE(findResource(module, RT_DIALOG, want.id, &c)) << "no English (US) template";
    ASSERT_NE(dword(c), 0xFFFF0001u) << "extended template";
    c.at = 0;
    DWORD style = dword(c);
    EXPECT_EQ(style, want.style);
    EXPECT_EQ(style & (DS_SETFONT | DS_MODALFRAME | DS_CENTER | DS_ABSALIGN), 0u);
    EXPECT_EQ(dword(c), 0u) << "extended style";
    WORD count = word(c);
    ASSERT_EQ(count, want.controls.size());
    EXPECT_EQ(shortValue(c), want.x);
    EXPECT_EQ(shortValue(c), want.y);
    EXPECT_EQ(shortValue(c), want.cx);
    EXPECT_EQ(shortValue(c), want.cy);
    EXPECT_EQ(nameOrOrdinal(c), "") << "menu";
    EXPECT_EQ(nameOrOrdinal(c), "") << "dialog class";
    EXPECT_EQ(text(c), want.caption);
    for (size_t i = 0; i < want.controls.size(); ++i) {
        const ControlExpected& ctl = want.controls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        alignDword(c);
        EXPECT_EQ(dword(c), ctl.style);
        EXPECT_EQ(dword(c), 0u) << "extended style";
        EXPECT_EQ(shortValue(c), ctl.x);
        EXPECT_EQ(shortValue(c), ctl.y);
        EXPECT_EQ(shortValue(c), ctl.cx);
        EXPECT_EQ(shortValue(c), ctl.cy);
        EXPECT_EQ(word(c), ctl.id);
        EXPECT_EQ(controlClass(c), ctl.cls);
        std::string title = nameOrOrdinal(c);
        if (ctl.title != nullptr) {
            EXPECT_EQ(title, ctl.title);
        } else {
            EXPECT_FALSE(title.empty());
            EXPECT_NE(title[0], '#');
        }
        EXPECT_EQ(word(c), 0u) << "creation data";
    }
    EXPECT_FALSE(c.overrun);
}

struct MenuExpected {
    WORD flags;
    int id;  // -1 for a drop-down
    const char* text;
};

void checkMenuTemplate(HMODULE module) {
    Cursor c;
    ASSERT_TRUE(findResource(module, RT_MENU, IDR_MENU, &c)) << "no English (US) menu 500";
    EXPECT_EQ(word(c), 0u) << "version";
    EXPECT_EQ(word(c), 0u) << "header size";
    const MenuExpected items[] = {
        {MF_POPUP, -1, "&Fichier"},           {MF_END, IDM_QUIT, "&Quitter"},
        {MF_POPUP, -1, "&Connexion"},         {0, IDM_LISTEN, "&Mise en ecoute"},
        {MF_GRAYED | MF_END, IDM_DISCONNECT, "&Deconnexion"},
        {0, IDM_CAPTURE, "C&apture"},         {0, IDM_PROPERTIES, "&Proprietes"},
        {MF_END, IDM_ABOUT, "A propos"}};
    for (const MenuExpected& item : items) {
        SCOPED_TRACE(item.text);
        WORD flags = word(c);
        EXPECT_EQ(flags, item.flags);
        if (!(flags & MF_POPUP)) {
            EXPECT_EQ(static_cast<int>(word(c)), item.id);
        }
        EXPECT_EQ(text(c), item.text);
    }
    EXPECT_FALSE(c.overrun);
    EXPECT_EQ(c.at, c.size) << "more items than expected";
}

// A resource type or name as text: "#" and the number for a numbered one.
std::string resourceName(LPCSTR name) {
    return IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<UINT_PTR>(name))
                                : std::string(name);
}

BOOL CALLBACK addResourceType(HMODULE, LPSTR type, LONG_PTR list) {
    reinterpret_cast<std::vector<std::string>*>(list)->push_back(resourceName(type));
    return TRUE;
}

BOOL CALLBACK addResourceName(HMODULE, LPCSTR, LPSTR name, LONG_PTR list) {
    reinterpret_cast<std::vector<std::string>*>(list)->push_back(resourceName(name));
    return TRUE;
}

BOOL CALLBACK addResourceLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR list) {
    reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
    return TRUE;
}

std::vector<std::string> resourceTypes(HMODULE module) {
    std::vector<std::string> types;
    EnumResourceTypesA(module, addResourceType, reinterpret_cast<LONG_PTR>(&types));
    return types;
}

std::vector<std::string> resourceNames(HMODULE module, LPCSTR type) {
    std::vector<std::string> names;
    EnumResourceNamesA(module, type, addResourceName, reinterpret_cast<LONG_PTR>(&names));
    return names;
}

std::vector<WORD> resourceLanguages(HMODULE module, LPCSTR type, int id) {
    std::vector<WORD> languages;
    EnumResourceLanguagesA(module, type, MAKEINTRESOURCEA(id), addResourceLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

}  // namespace

TEST(Resources, TemplatesOfThisTestProgram) {
    HMODULE self = GetModuleHandleA(nullptr);
    checkMenuTemplate(self);
    for (const DialogExpected& dialog : expectedDialogs()) checkDialogTemplate(self, dialog);
}

TEST(Resources, TheProgramHoldsExactlyTheMenuItsDialogsItsVersionAndItsManifest) {
    std::string path = programPath();
    HMODULE program = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr) << path << " error " << GetLastError();
    std::vector<std::string> types = resourceTypes(program);
    // menu, dialog, version, manifest
    const std::vector<std::string> expectedTypes = {"#4", "#5", "#16", "#24"};
    EXPECT_EQ(types, expectedTypes);
    EXPECT_EQ(resourceNames(program, RT_VERSION), std::vector<std::string>{"#1"});
    EXPECT_EQ(resourceNames(program, RT_MANIFEST), std::vector<std::string>{"#1"});
    EXPECT_EQ(resourceNames(program, RT_MENU), std::vector<std::string>{"#500"});
    const std::vector<std::string> dialogs = {"#100", "#200", "#300", "#400", "#600", "#700"};
    EXPECT_EQ(resourceNames(program, RT_DIALOG), dialogs);
    const std::vector<WORD> english = {ENGLISH_US};
    EXPECT_EQ(resourceLanguages(program, RT_MENU, IDR_MENU), english);
    for (int id : {IDD_PROPERTIES, IDD_CAPTURE, IDD_ABOUT, IDD_SEND, IDD_RULES, IDD_CONNECT}) {
        EXPECT_EQ(resourceLanguages(program, RT_DIALOG, id), english) << id;
    }
    for (LPCSTR absent : {RT_ICON, RT_GROUP_ICON, RT_STRING,
                          RT_ACCELERATOR, RT_BITMAP, RT_CURSOR}) {
        EXPECT_TRUE(resourceNames(program, absent).empty())
            << "resource type " << reinterpret_cast<UINT_PTR>(absent);
    }
    checkMenuTemplate(program);
    for (const DialogExpected& dialog : expectedDialogs()) checkDialogTemplate(program, dialog);
    FreeLibrary(program);
}

// What Windows shows in the program file's properties: the version set in CMake.
TEST(Resources, TheProgramCarriesItsVersion) {
    std::string path = programPath();
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(ORU_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(minor, major));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, patch));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    const char* expected[][2] = {{"ProductName", "Dazirar OrU"},
                                 {"FileVersion", ORU_VERSION},
                                 {"ProductVersion", ORU_VERSION},
                                 {"OriginalFilename", "dazirar-oru.exe"}};
    for (const auto& field : expected) {
        char* value = nullptr;
        std::string query = std::string("\\StringFileInfo\\040904E4\\") + field[0];
        ASSERT_TRUE(VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value),
                                   &length))
            << field[0];
        EXPECT_STREQ(value, field[1]);
    }
}
