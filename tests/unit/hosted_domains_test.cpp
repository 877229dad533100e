// Tests of the hosted-domain list: its form, the shipped composition, and which domains match.
#include <ctype.h>
#include <string.h>

#include <map>
#include <set>
#include <string>

#include "hosted_domains.h"
#include "test_support.h"

namespace {

std::string Lower(std::string s)
{
    for (char& c : s) c = (char)tolower((unsigned char)c);
    return s;
}

TEST(HostedDomains, EveryEntryIsAPlainDomainAndUnique)
{
    std::set<std::string> seen;
    int upperCase = 0, count = 0;
    for (; HostedDomains[count][0] != '\0'; ++count) {
        std::string entry = HostedDomains[count];
        SCOPED_TRACE(entry);
        size_t dot = entry.find('.');
        ASSERT_NE(dot, std::string::npos);
        EXPECT_EQ(entry.find('.', dot + 1), std::string::npos) << "one dot, before the top-level label";
        EXPECT_GT(dot, 0u);
        EXPECT_NE(entry.front(), '-');
        EXPECT_NE(entry[dot - 1], '-');
        for (char c : entry) EXPECT_TRUE(isalnum((unsigned char)c) || c == '-' || c == '.') << c;
        if (Lower(entry) != entry) {  // has an upper-case letter: then it must be wholly upper case
            ++upperCase;
            for (char c : entry) EXPECT_FALSE(islower((unsigned char)c)) << "mixed case";
        }
        EXPECT_TRUE(seen.insert(Lower(entry)).second) << "listed twice, ignoring case";
    }
    EXPECT_EQ(upperCase, 1);
}

// The shipped list. Change these figures together with the list.
TEST(HostedDomains, ShippedComposition)
{
    std::map<std::string, int> byTopLevel;
    int count = 0;
    for (; HostedDomains[count][0] != '\0'; ++count) {
        std::string entry = HostedDomains[count];
        EXPECT_GE(entry.size(), 6u) << entry;
        EXPECT_LE(entry.size(), 28u) << entry;
        ++byTopLevel[Lower(entry.substr(entry.find('.') + 1))];
    }
    EXPECT_EQ(count, 256);
    EXPECT_EQ(byTopLevel["com"], 153);
    EXPECT_EQ(byTopLevel["es"], 95);
    EXPECT_EQ(byTopLevel["net"], 6);
    EXPECT_EQ(byTopLevel["org"], 2);
    EXPECT_EQ(byTopLevel.size(), 4u);
}

struct MatchCase {
    const char* domain;
    int hosted;
};

TEST(HostedDomains, MatchesWholeDomainIgnoringLetterCaseOnly)
{
    const MatchCase cases[] = {
        {"fontaneria-delinon.com", 1},     // first entry
        {"oranall-sur.com", 1},            // last entry
        {"FONTANERIA-DELINON.COM", 1},     // upper-case address, lower-case entry
        {"Fontaneria-Delinon.Com", 1},
        {"valelangrupo.com", 1},           // lower-case address, the upper-case entry
        {"VALELANGRUPO.COM", 1},
        {"", 0},                           // never compared with the end marker
        {"fontaneria-delinon.com.", 0},    // trailing dot
        {" fontaneria-delinon.com", 0},    // leading space
        {"fontaneria-delinon.com ", 0},    // trailing space
        {"mail.fontaneria-delinon.com", 0},  // sub-domain
        {"delinon.com", 0},                // suffix of an entry
        {"fontaneria-delinon", 0},         // prefix of an entry
        {"b@fontaneria-delinon.com", 0},   // what follows a first of two at signs
        {"fontaneria-delin\xD3n.com", 0},  // a non-ASCII letter is not folded
    };
    for (const MatchCase& c : cases) EXPECT_EQ(IsHostedDomain(c.domain), c.hosted) << "\"" << c.domain << "\"";
}

}  // namespace
