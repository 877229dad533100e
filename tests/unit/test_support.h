// Helpers shared by the unit tests: value bytes, the account-store paths, and a fixture that resets the
// stand-in and checks, after every test, that no key was left open and no operation was misused.
#pragma once

#include <gtest/gtest.h>

#include <ctype.h>

#include <string>
#include <utility>

#include "standin.h"

// Bytes of a string value with its terminating NUL.
inline std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }
// A text of n copies of c.
inline std::string Repeat(char c, size_t n) { return std::string(n, c); }
// UTF-16LE bytes of a text (no NUL added), and the text of such bytes (an odd last byte dropped).
inline std::string U16(const std::u16string& text)
{
    std::string bytes;
    for (char16_t c : text) bytes += std::string{(char)(c & 0xFF), (char)(c >> 8)};
    return bytes;
}
// The same with the NUL character that ends a stored text.
inline std::string U16z(const std::u16string& text) { return U16(text) + std::string(2, '\0'); }
inline std::u16string FromU16(const std::string& bytes)
{
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += (char16_t)((unsigned char)bytes[i] | (unsigned char)bytes[i + 1] << 8);
    return text;
}
// A text of the tests, written in Latin-1 as the program's own Windows-1252 texts are, as the UTF-16 a box shows.
inline std::u16string Wide(const std::string& latin1)
{
    std::u16string text;
    for (char c : latin1) text += (char16_t)(unsigned char)c;
    return text;
}
// Bytes of a REG_DWORD, least significant first.
inline std::string Dw(DWORD v)
{
    return std::string{(char)(v & 0xFF), (char)((v >> 8) & 0xFF), (char)((v >> 16) & 0xFF), (char)(v >> 24)};
}

#define FIRST_STORE "HKCU\\Software\\Microsoft\\Internet Account Manager\\Accounts"

const char kAtencion[] = "Atenci\xF3n";

// An account of a hosted domain with every value the update reads, named `name` in its notice.
inline void StoreHostedAccount(const char* keyPath, const char* name)
{
    standin::SetString(keyPath, "Account Name", name);
    standin::SetString(keyPath, "SMTP Email Address", "ana@naricantec.es");
    standin::SetString(keyPath, "POP3 Server", "pop.old.net");
    standin::SetString(keyPath, "POP3 User Name", "ana");
}

// The same in an Outlook profile: UTF-16 text stored as REG_BINARY, as Outlook keeps it.
inline void StoreHostedProfileAccount(const char* keyPath, const std::u16string& name)
{
    const std::pair<const char*, std::u16string> values[] = {
        {"Account Name", name}, {"Email", u"ana@naricantec.es"}, {"POP3 Server", u"pop.old.net"}, {"POP3 User", u"ana"}};
    for (const auto& value : values) {
        std::string bytes = U16(value.second + u'\0');
        standin::SetValueW(keyPath, value.first, REG_BINARY, bytes.data(), bytes.size());
    }
}

class StandinTest : public ::testing::Test {
protected:
    void SetUp() override { standin::Reset(); }
    void TearDown() override
    {
        EXPECT_EQ(standin::HandlesOpen(), 0) << "a key was left open";
        for (const std::string& problem : standin::Problems()) ADD_FAILURE() << problem;
    }
};

// A parameterized test's name made of the letters and digits of its case's `what`.
struct CaseName {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& info) const
    {
        std::string name;
        for (const char* c = info.param.what; *c; ++c)
            if (isalnum((unsigned char)*c)) name += *c;
        return name;
    }
};
