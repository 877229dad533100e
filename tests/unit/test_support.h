// Helpers shared by the unit tests: value bytes, the account-store paths, and a fixture that resets the
// stand-in and checks, after every test, that no key was left open and no operation was misused.
#pragma once

#include <gtest/gtest.h>

#include <ctype.h>

#include <string>

#include "standin.h"

// Bytes of a string value with its terminating NUL.
inline std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }
// A text of n copies of c.
inline std::string Repeat(char c, size_t n) { return std::string(n, c); }
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
