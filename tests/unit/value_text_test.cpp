// Tests of the account-store text reads and the bounded joins: termination, the 260-character limit, nothing cut short.
#include <string.h>

#include "test_support.h"
#include "value_text.h"

namespace {

const char kKey[] = "HKCU\\Software\\Test";

struct ReadCase {
    const char* label;
    std::string stored;  // bytes of the value; the value is missing when `present` is false
    bool present;
    LONG result;
    std::string text;  // the text read ("" on failure)
};

TEST_F(StandinTest, ReadStoreTextTerminatesSafely)
{
    const ReadCase cases[] = {
        {"ordinary string", Sz("pop.old.net"), true, ERROR_SUCCESS, "pop.old.net"},
        {"no NUL, shorter than the buffer", "pop.old.net", true, ERROR_SUCCESS, "pop.old.net"},
        {"empty data", "", true, ERROR_SUCCESS, ""},
        {"embedded NUL ends the text", std::string("ab\0cd", 5), true, ERROR_SUCCESS, "ab"},
        {"259 characters and NUL", Sz(Repeat('a', 259)), true, ERROR_SUCCESS, Repeat('a', 259)},
        {"259 characters without NUL", Repeat('a', 259), true, ERROR_SUCCESS, Repeat('a', 259)},
        {"260 bytes without NUL", Repeat('a', 260), true, ERROR_MORE_DATA, ""},
        {"260 characters and NUL", Sz(Repeat('a', 260)), true, ERROR_MORE_DATA, ""},
        {"missing", "", false, ERROR_FILE_NOT_FOUND, ""},
    };
    // Read as a text of an account store with the wide function: a string, and the same bytes as REG_BINARY (an
    // ANSI text's bytes), give the same text and result.
    for (const ReadCase& c : cases) {
        for (DWORD type : {(DWORD)REG_SZ, (DWORD)REG_BINARY}) {
            SCOPED_TRACE(std::string(c.label) + (type == REG_SZ ? ", string" : ", bytes"));
            standin::Reset();
            standin::CreateKey(kKey);
            if (c.present) standin::SetValue(kKey, "V", type, c.stored.data(), c.stored.size());
            HKEY key;
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &key), ERROR_SUCCESS);
            AccountText text;
            for (WCHAR& unit : text) unit = u'X';
            DWORD typeRead = 0xCCCC;
            EXPECT_EQ(ReadStoreText(key, "V", text, &typeRead), c.result);
            if (c.present) {
                EXPECT_EQ(typeRead, type);
            }
            std::string read;
            for (size_t i = 0; text[i]; ++i) read += (char)text[i];
            EXPECT_EQ(read, c.text);
            RegCloseKey(key);
        }
    }
}

TEST(ValueText, JoinsNeverCutShort)
{
    ValueText text;
    ASSERT_TRUE(CopyText(text, Repeat('a', 250).c_str()));
    EXPECT_FALSE(AppendText(text, "0123456789"));  // 260 characters would not fit with the NUL
    EXPECT_EQ(std::string(text), Repeat('a', 250));
    EXPECT_TRUE(AppendText(text, "012345678"));  // 259 characters do
    EXPECT_EQ(strlen(text), 259u);
    EXPECT_FALSE(CopyText(text, Repeat('b', 260).c_str()));
    EXPECT_EQ(strlen(text), 259u);
}

TEST(ValueText, CaseFoldingCoversAsciiLettersOnly)
{
    EXPECT_TRUE(SameTextIgnoringCase("Mail.Example", "mAIL.eXAMPLE"));
    EXPECT_FALSE(SameTextIgnoringCase("a", "a."));
    EXPECT_FALSE(SameTextIgnoringCase("\xC1", "\xE1"));  // Á and á are not folded
    EXPECT_FALSE(SameTextIgnoringCase("[", "{"));        // 0x5B and 0x7B differ by 0x20 but are no letters
    EXPECT_TRUE(EndsWithIgnoringCase("juan.Dominio.ES", ".dominio.es"));
    EXPECT_FALSE(EndsWithIgnoringCase("es", ".es"));
}

}  // namespace
