// Conformance of the in-memory stand-in with the Windows behaviour the program relies on: every output is
// filled with junk before a call, then checked, together with what must stay untouched.
#include <string.h>

#include "test_support.h"

namespace {

const char kKey[] = "HKCU\\Software\\Test";
const BYTE kJunk = 0xCC;

class StandinConformance : public StandinTest {
protected:
    HKEY Open(const char* sub, REGSAM access)
    {
        HKEY key = (HKEY)(uintptr_t)0xDEAD;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, sub, 0, access, &key), ERROR_SUCCESS) << sub;
        return key;
    }
};

// One query against a value of `stored` bytes with a buffer of `bufferSize`. By default the value is a REG_SZ
// stored with the A function and read with the A function.
struct QueryCase {
    const char* label;
    std::string stored;  // empty: value missing
    DWORD bufferSize;
    LONG result;
    DWORD sizeOut;       // what the size field holds afterwards
    DWORD typeOut;       // kJunk repeated when untouched
    std::string bufferOut;  // the first bytes of the buffer afterwards
    DWORD type = REG_SZ;
    bool storedWide = false;  // stored as RegSetValueExW would
    bool readWide = false;    // read with RegQueryValueExW
};

TEST_F(StandinConformance, QueryValueFollowsWindows)
{
    const DWORD untouched = 0xCCCCCCCC;
    const QueryCase cases[] = {
        {"fits with room", Sz("abc"), 10, ERROR_SUCCESS, 4, REG_SZ, Sz("abc") + "\xCC"},
        {"exactly fills: no NUL added", "abcd", 4, ERROR_SUCCESS, 4, REG_SZ, "abcd\xCC"},
        // Short string data without a NUL gets one after it, not counted, when the buffer has room (as Wine does).
        {"short string without NUL: one added, uncounted", "ab", 10, ERROR_SUCCESS, 2, REG_SZ,
         std::string("ab\0\xCC", 4)},
        {"W: short string without NUL: a NUL character added", U16(u"ab"), 16, ERROR_SUCCESS, 4, REG_SZ,
         U16z(u"ab") + "\xCC", REG_SZ, true, true},
        {"W: room for one byte only: nothing added", U16(u"ab"), 5, ERROR_SUCCESS, 4, REG_SZ, U16(u"ab") + "\xCC",
         REG_SZ, true, true},
        {"W: exactly fills: nothing added", U16(u"ab"), 4, ERROR_SUCCESS, 4, REG_SZ, U16(u"ab") + "\xCC", REG_SZ,
         true, true},
        {"REG_BINARY without NUL stays unterminated", "ab", 10, ERROR_SUCCESS, 2, REG_BINARY, "ab\xCC", REG_BINARY},
        {"W: REG_BINARY without NUL stays unterminated", U16(u"ab"), 16, ERROR_SUCCESS, 4, REG_BINARY,
         U16(u"ab") + "\xCC", REG_BINARY, true, true},
        {"too long: buffer untouched", Sz("abcdef"), 4, ERROR_MORE_DATA, 7, REG_SZ, "\xCC\xCC\xCC\xCC\xCC"},
        {"missing: nothing touched", "", 10, ERROR_FILE_NOT_FOUND, 10, untouched, "\xCC\xCC"},
        // Strings are kept as UTF-16: the A function converts through Windows-1252, the W function does not.
        {"UTF-16 read with A", U16z(u"Zo\u00EB"), 16, ERROR_SUCCESS, 4, REG_SZ, "Zo\xEB\0\xCC", REG_SZ, true},
        {"outside the code page read with A: '?'", U16z(u"\u0141ucja"), 16, ERROR_SUCCESS, 6, REG_SZ,
         "?ucja\0\xCC", REG_SZ, true},
        {"ANSI read with W", Sz("Zo\xEB"), 16, ERROR_SUCCESS, 8, REG_SZ, U16z(u"Zo\u00EB") + "\xCC", REG_SZ, false,
         true},
        {"unassigned Windows-1252 bytes keep their value", Sz("\x81\x8D\x80"), 16, ERROR_SUCCESS, 8, REG_SZ,
         U16z(u"\u0081\u008D\u20AC"), REG_SZ, false, true},
        {"REG_EXPAND_SZ is converted too", U16z(u"\u00F1"), 16, ERROR_SUCCESS, 2, REG_EXPAND_SZ, "\xF1\0\xCC",
         REG_EXPAND_SZ, true},
        {"odd UTF-16 read with A: the half character is dropped", U16(u"ab") + "c", 16, ERROR_SUCCESS, 2, REG_SZ,
         std::string("ab\0\xCC", 4), REG_SZ, true},
        {"A buffer too small for the converted text", U16z(u"Zo\u00EB"), 3, ERROR_MORE_DATA, 4, REG_SZ,
         "\xCC\xCC\xCC\xCC", REG_SZ, true},
        {"W buffer too small by one byte", U16z(u"\u0141ucja"), 11, ERROR_MORE_DATA, 12, REG_SZ,
         std::string(12, '\xCC'), REG_SZ, true, true},
        // Other types are bytes through both.
        {"REG_BINARY stored with A, read with W", "Zo\xEB", 16, ERROR_SUCCESS, 3, REG_BINARY, "Zo\xEB\xCC",
         REG_BINARY, false, true},
        {"REG_BINARY UTF-16 read with A: not converted", U16z(u"Ab\u0141"), 16, ERROR_SUCCESS, 8, REG_BINARY,
         U16z(u"Ab\u0141") + "\xCC", REG_BINARY, true},
    };
    for (const QueryCase& c : cases) {
        SCOPED_TRACE(c.label);
        standin::Reset();
        standin::CreateKey(kKey);
        if (!c.stored.empty()) {
            if (c.storedWide) {
                standin::SetValueW(kKey, "V", c.type, c.stored.data(), c.stored.size());
            } else {
                standin::SetValue(kKey, "V", c.type, c.stored.data(), c.stored.size());
            }
        }
        HKEY key = Open("Software\\Test", KEY_READ);
        BYTE buffer[16];
        memset(buffer, kJunk, sizeof buffer);
        DWORD type = untouched, size = c.bufferSize;
        LONG result = c.readWide ? RegQueryValueExW(key, u"v", NULL, &type, buffer, &size)
                                 : RegQueryValueExA(key, "v", NULL, &type, buffer, &size);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(size, c.sizeOut);
        EXPECT_EQ(type, c.typeOut);
        EXPECT_EQ(std::string((char*)buffer, c.bufferOut.size()), c.bufferOut);
        RegCloseKey(key);
    }
}

// One write through the A or the W function, and what each function then reads back.
struct SetCase {
    const char* label;
    bool wide;
    DWORD type;
    std::string given;
    std::string ansi;  // what RegQueryValueExA hands back
    std::string wide16;  // what RegQueryValueExW hands back: the stored bytes
};

TEST_F(StandinConformance, SetValueKeepsWhatEachFunctionMeans)
{
    const SetCase cases[] = {
        {"ANSI string", false, REG_SZ, Sz("Zo\xEB"), Sz("Zo\xEB"), U16z(u"Zo\u00EB")},
        {"UTF-16 string", true, REG_SZ, U16z(u"\u0141ucja"), Sz("?ucja"), U16z(u"\u0141ucja")},
        {"UTF-16 text as REG_BINARY round trip", true, REG_BINARY, U16z(u"\u0141ucja"), U16z(u"\u0141ucja"),
         U16z(u"\u0141ucja")},
        {"ANSI bytes as REG_BINARY", false, REG_BINARY, "Zo\xEB", "Zo\xEB", "Zo\xEB"},
        {"DWORD", true, REG_DWORD, Dw(7), Dw(7), Dw(7)},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.label);
        standin::Reset();
        standin::CreateKey(kKey);
        HKEY key = Open("Software\\Test", KEY_WRITE);
        const BYTE* data = (const BYTE*)c.given.data();
        DWORD size = (DWORD)c.given.size();
        EXPECT_EQ(c.wide ? RegSetValueExW(key, u"V", 0, c.type, data, size) : RegSetValueExA(key, "V", 0, c.type, data, size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        standin::StoredValue value = standin::GetValue(kKey, "v");
        EXPECT_EQ(value.type, c.type);
        EXPECT_EQ(value.bytes, c.ansi);
        EXPECT_EQ(value.wide, c.wide16);
        ASSERT_EQ(standin::Writes().size(), 1u);
        EXPECT_EQ(standin::Writes()[0].bytes, c.given) << "the write is logged as the program made it";
        EXPECT_EQ(standin::Writes()[0].wide, c.wide);
    }
}

// MultiByteToWideChar with a named code page or the ANSI one: what fits, and what does not.
struct ToWideCase {
    const char* label;
    UINT ansiCodePage;
    UINT codePage;
    const char* bytes;
    int room;
    int result;
    std::u16string out;  // the start of the buffer afterwards; junk is 0xCCCC
};

TEST_F(StandinConformance, CodePageTextToUtf16)
{
    const std::u16string junk(1, u'\xCCCC'), nul(1, 0);
    const char* const atencion = "\xBF" "Atenci\xF3n";
    const ToWideCase cases[] = {
        {"1252, NUL included", 1252, 1252, atencion, 16, 10, u"\u00BFAtenci\u00F3n" + nul + junk},
        {"1252 named under a 1251 system", 1251, 1252, atencion, 16, 10, u"\u00BFAtenci\u00F3n" + nul},
        {"the ANSI code page under 1251", 1251, CP_ACP, atencion, 16, 10, u"\u0457Atenci\u0443n" + nul},
        {"1252's own characters above 0x7F", 1252, 1252, "\x80\x81\x9F", 4, 4, u"\u20AC\u0081\u0178" + nul},
        {"1251's own characters above 0x7F", 1252, 1251, "\x80\xA8\xC0\xFF", 5, 5, u"\u0402\u0401\u0410\u044F" + nul},
        {"the size needed", 1252, 1252, "Zo\xEB", 0, 4, junk},
        {"no room for the NUL: what fits, and 0", 1252, 1252, "Zo\xEB", 3, 0, u"Zo\u00EB" + junk},
    };
    for (const ToWideCase& c : cases) {
        SCOPED_TRACE(c.label);
        standin::Reset();
        standin::SetAnsiCodePage(c.ansiCodePage);
        WCHAR out[16];
        for (WCHAR& unit : out) unit = 0xCCCC;
        EXPECT_EQ(MultiByteToWideChar(c.codePage, 0, c.bytes, -1, c.room ? out : NULL, c.room), c.result);
        EXPECT_EQ(std::u16string(out, c.out.size()), c.out);
    }
}

// Sub-keys come in the order of their names' upper-case forms, as the registry sorts them: "[" and "_" after "Z",
// then letters beyond ASCII. The W function gives each name exactly, the A function through the code page.
TEST_F(StandinConformance, EnumKeysInUpperCaseOrder)
{
    for (const char* name : {"beta", "_x", "Alpha", "gamma", "[y", "ALPHA2", "zeta", "\u041F\u043E\u0447\u0442\u0430",
                             "\u0142ucja", "correo \U0001F4E7"})
        standin::CreateKey((std::string(kKey) + "\\" + name).c_str());
    HKEY key = Open("Software\\Test", KEY_READ);
    const std::u16string expected[] = {u"Alpha", u"ALPHA2",      u"beta", u"correo \U0001F4E7", u"gamma",
                                       u"zeta",  u"[y",          u"_x",   u"\u0142ucja",        u"\u041F\u043E\u0447\u0442\u0430"};
    const char* expectedAnsi[] = {"Alpha", "ALPHA2", "beta", "correo ??", "gamma",
                                  "zeta",  "[y",     "_x",   "?ucja",     "?????"};
    for (DWORD i = 0; i < 10; ++i) {
        WCHAR wide[260];
        for (WCHAR& unit : wide) unit = 0xCCCC;
        DWORD length = 260;
        ASSERT_EQ(RegEnumKeyExW(key, i, wide, &length, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
        EXPECT_EQ(std::u16string(wide), expected[i]);
        EXPECT_EQ(length, expected[i].size());
        char name[260];
        memset(name, kJunk, sizeof name);
        length = sizeof name;
        ASSERT_EQ(RegEnumKeyExA(key, i, name, &length, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
        EXPECT_STREQ(name, expectedAnsi[i]);
        EXPECT_EQ(length, strlen(expectedAnsi[i]));
    }
    char name[4];
    memset(name, kJunk, sizeof name);
    DWORD length = 4;
    EXPECT_EQ(RegEnumKeyExA(key, 10, name, &length, NULL, NULL, NULL, NULL), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, NULL, NULL, NULL, NULL), ERROR_MORE_DATA);  // "Alpha" + NUL
    EXPECT_EQ(length, 4u);
    EXPECT_EQ((BYTE)name[0], kJunk);
    RegCloseKey(key);
}

// A key is found by its UTF-16 name, letter case aside beyond ASCII too; the A function's path goes through the
// code page, so a name it lacks a character of is not found.
struct OpenCase {
    UINT ansiCodePage;
    const char* ansi;      // the path given to RegOpenKeyExA, or null
    std::u16string wide;  // the path given to RegOpenKeyExW otherwise
    LONG result;
};

TEST_F(StandinConformance, OpenFindsKeyNamesInUtf16)
{
    const OpenCase cases[] = {
        {1252, NULL, u"Software\\Test\\CORREO DE \u0141UCJA", ERROR_SUCCESS},
        {1252, NULL, u"software\\test\\\u043F\u043E\u0447\u0442\u0430", ERROR_SUCCESS},
        {1252, NULL, u"Software\\Test\\Correo de Lucja", ERROR_FILE_NOT_FOUND},
        {1252, "Software\\Test\\Correo de ?ucja", u"", ERROR_FILE_NOT_FOUND},
        {1252, "Software\\Test\\Correo de Mar\xED" "a", u"", ERROR_SUCCESS},
        {1251, "Software\\Test\\Correo de Mar\xED" "a", u"", ERROR_FILE_NOT_FOUND},
        {1251, "Software\\Test\\\xCF\xEE\xF7\xF2\xE0", u"", ERROR_SUCCESS},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.ansi ? c.ansi : "W");
        standin::Reset();
        standin::SetAnsiCodePage(c.ansiCodePage);
        for (const char* name : {"Correo de \u0141ucja", "Correo de Mar\u00EDa", "\u041F\u043E\u0447\u0442\u0430"})
            standin::CreateKey((std::string(kKey) + "\\" + name).c_str());
        HKEY key = (HKEY)(uintptr_t)0xDEAD;
        EXPECT_EQ(c.ansi ? RegOpenKeyExA(HKEY_CURRENT_USER, c.ansi, 0, KEY_READ, &key)
                         : RegOpenKeyExW(HKEY_CURRENT_USER, c.wide.c_str(), 0, KEY_READ, &key),
                  c.result);
        if (c.result == ERROR_SUCCESS) {
            RegCloseKey(key);
        } else {
            EXPECT_EQ(key, (HKEY)NULL);
        }
    }
}

// Which operations each access mask allows on the opened key.
struct AccessCase {
    REGSAM access;
    LONG query, enumerate, set;
};

TEST_F(StandinConformance, OperationsCheckTheHandlesRights)
{
    const AccessCase cases[] = {
        {KEY_READ, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
        {KEY_QUERY_VALUE, ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {KEY_WRITE, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, ERROR_SUCCESS},
        {KEY_READ | KEY_WRITE, ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS},
    };
    for (const AccessCase& c : cases) {
        SCOPED_TRACE(c.access);
        standin::Reset();
        standin::SetString(kKey, "V", "x");
        standin::CreateKey((std::string(kKey) + "\\Sub").c_str());
        HKEY key = Open("Software\\Test", c.access);
        BYTE data[8];
        DWORD size = sizeof data;
        EXPECT_EQ(RegQueryValueExA(key, "V", NULL, NULL, data, &size), c.query);
        char name[8];
        DWORD length = sizeof name;
        EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, NULL, NULL, NULL, NULL), c.enumerate);
        EXPECT_EQ(RegSetValueExA(key, "W", 0, REG_SZ, (const BYTE*)"y", 2), c.set);
        EXPECT_EQ(standin::GetValue(kKey, "W").present, c.set == ERROR_SUCCESS);
        RegCloseKey(key);
    }
}

TEST_F(StandinConformance, GrantRefusesMoreThanAllowedBelowTheKey)
{
    standin::CreateKey("HKLM\\Software\\Vendor\\Product");
    standin::Grant("HKLM", KEY_READ);
    HKEY key = (HKEY)(uintptr_t)0xDEAD;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vendor\\Product", 0, KEY_ALL_ACCESS, &key),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(key, (HKEY)NULL);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Vendor\\Product", 0, KEY_QUERY_VALUE, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Missing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, (HKEY)NULL);
}

TEST_F(StandinConformance, OpenIsCaseInsensitiveAndSetKeepsExactBytes)
{
    standin::CreateKey("HKCU\\Software\\Mixed Case");
    HKEY key = Open("SOFTWARE\\mixed case", KEY_WRITE);
    const BYTE raw[3] = {'a', 0, 'b'};
    EXPECT_EQ(RegSetValueExA(key, "Raw", 0, REG_BINARY, raw, 3), ERROR_SUCCESS);
    RegCloseKey(key);
    standin::StoredValue value = standin::GetValue("HKCU\\Software\\Mixed Case", "raw");
    EXPECT_TRUE(value.present);
    EXPECT_EQ(value.type, (DWORD)REG_BINARY);
    EXPECT_EQ(value.bytes, std::string("a\0b", 3));
}

TEST_F(StandinConformance, InjectedFaultsFailOnlyTheirOperation)
{
    standin::SetString(kKey, "A", "1");
    standin::SetString(kKey, "B", "2");
    standin::FailQuery(kKey, "a", ERROR_BADDB, 1);
    standin::FailSet(kKey, "B", ERROR_CANTWRITE);
    HKEY key = Open("Software\\Test", KEY_READ | KEY_WRITE);
    BYTE data[8];
    DWORD size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "A", NULL, NULL, data, &size), ERROR_BADDB);
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "A", NULL, NULL, data, &size), ERROR_SUCCESS);  // fired once only
    size = sizeof data;
    EXPECT_EQ(RegQueryValueExA(key, "B", NULL, NULL, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "B", 0, REG_SZ, (const BYTE*)"x", 2), ERROR_CANTWRITE);
    EXPECT_EQ(standin::GetValue(kKey, "B").bytes, Sz("2"));
    RegCloseKey(key);

    standin::FailOpen(kKey, ERROR_ACCESS_DENIED);
    HKEY other = (HKEY)(uintptr_t)0xDEAD;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\test", 0, KEY_READ, &other), ERROR_ACCESS_DENIED);
    EXPECT_EQ(other, (HKEY)NULL);
}

TEST_F(StandinConformance, HandleMisuseIsCaught)
{
    standin::CreateKey(kKey);
    HKEY key = Open("Software\\Test", KEY_READ);
    EXPECT_EQ(standin::HandlesOpen(), 1);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(standin::HandlesOpened(), 1);
    EXPECT_EQ(standin::HandlesOpen(), 0);
    ASSERT_EQ(standin::Problems().size(), 1u);
    standin::Reset();  // the misuse was the point of this test
}

TEST_F(StandinConformance, MessageBoxesAreRecordedAndAnswered)
{
    standin::ScriptAnswers({IDNO, IDYES});
    EXPECT_EQ(MessageBoxW(NULL, u"q1", u"c", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(MessageBoxW(NULL, u"n\u00F3te \u0141", u"c", MB_OK), IDOK);  // plain OK boxes take no scripted answer
    EXPECT_EQ(MessageBoxW(NULL, u"q2", u"c", MB_YESNO), IDYES);
    ASSERT_EQ(standin::Boxes().size(), 3u);
    EXPECT_EQ(standin::Boxes()[1].text, u"n\u00F3te \u0141") << "recorded exactly";
    EXPECT_EQ(standin::Boxes()[2].style, (UINT)MB_YESNO);
    EXPECT_EQ(MessageBoxW(NULL, u"q3", u"c", MB_YESNO), IDNO);  // unscripted: a problem
    EXPECT_EQ(standin::Problems().size(), 1u);
    standin::Reset();
}

}  // namespace
