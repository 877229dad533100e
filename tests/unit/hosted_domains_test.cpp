// Tests of the hosted-domain list: what every entry must be, the shipped composition, and which domains match.
#include <string.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hosted_domains.h"
#include "test_support.h"

namespace {

bool IsAsciiLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::string Lower(std::string s)
{
    for (char& c : s) c = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    return s;
}

// What keeps one entry from serving the program, or "" if nothing does. The program compares an address's
// domain with the entry as ASCII, letter case aside, and writes "pop3.", "smtp." or "." followed by it into
// texts of at most 259 characters.
std::string EntryFault(const std::string& entry)
{
    if (entry.empty()) return "the empty string, which only marks the end of the list";
    if (entry.size() > 254) return "longer than 254 characters, so \"pop3.\" and the domain do not fit 259";
    if (entry.find('.') == std::string::npos) return "no dot";
    for (char c : entry) {
        if (!IsAsciiLetterOrDigit(c) && c != '-' && c != '.') {
            return "a character other than ASCII letters, digits, hyphens and dots";
        }
    }
    std::string label;
    std::istringstream labels(entry + ".");  // the final dot makes an empty last label show
    while (std::getline(labels, label, '.')) {
        if (label.empty()) return "an empty label (a dot at either end, or two dots together)";
        if (label.front() == '-' || label.back() == '-') return "a label that starts or ends with a hyphen";
    }
    return "";
}

// The faults of a list of entries, each naming its entry; none for a list the program can use.
std::multiset<std::string> ListFaults(const std::vector<std::string>& list)
{
    std::multiset<std::string> faults;
    std::set<std::string> seen;
    for (const std::string& entry : list) {
        std::string fault = EntryFault(entry);
        if (fault.empty() && !seen.insert(Lower(entry)).second) fault = "listed twice, letter case aside";
        if (!fault.empty()) faults.insert("\"" + entry + "\": " + fault);
    }
    return faults;
}

// The shipped list's entries, without its end marker.
std::vector<std::string> ShippedEntries()
{
    return std::vector<std::string>(HostedDomains, HostedDomains + HostedDomainSlots - 1);
}

TEST(HostedDomains, EveryEntryServesTheProgram)
{
    ASSERT_GE(HostedDomainSlots, 1);
    EXPECT_STREQ(HostedDomains[HostedDomainSlots - 1], "") << "the list must end with the empty string";
    for (const std::string& fault : ListFaults(ShippedEntries())) {
        ADD_FAILURE() << "HostedDomains in migration/hosted_domains.cpp: " << fault;
    }
}

struct EntryCase {
    std::string entry;
    const char* fault;  // a part of the fault expected, or "" for an entry the checks accept
};

std::string Upper(std::string s)
{
    for (char& c : s) c = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    return s;
}

// Each entry is added to a copy of the shipped list; the checks must find no new fault in it, or exactly one: the
// expected fault of that entry. An entry they must accept is first taken out of the copy, should the provider
// list it one day; the entries listed twice are taken from the copy itself.
TEST(HostedDomains, ChecksAcceptWhatTheProgramCanUseAndNothingElse)
{
    const std::vector<std::string> shipped = ShippedEntries();
    ASSERT_FALSE(shipped.empty());
    const std::string longest = Repeat('a', 63) + "." + Repeat('b', 63) + "." + Repeat('c', 63) + "." +
                                Repeat('d', 59) + ".es";
    ASSERT_EQ(longest.size(), 254u);
    std::vector<EntryCase> cases = {
        {"ejemplo-nuevo.es", ""},
        {"mail.ejemplo-nuevo.es", ""},           // a sub-domain, as an entry of its own
        {"mail." + shipped[0], ""},              // a sub-domain of a listed domain
        {"ejemplo-nuevo.eu", ""},                // a new top-level domain
        {"ejemplo.com.es", ""},
        {"EJEMPLO-NUEVO.ES", ""},                // letter case is the provider's choice
        {"xn--espaa-rta.es", ""},                // an international domain, as ASCII
        {"24-7.es", ""},
        {"instalaciones-y-reformas-del-mediterraneo.es", ""},  // longer than any shipped entry
        {longest, ""},
        {"", "the empty string"},
        {"ejemplo", "no dot"},
        {".ejemplo.es", "an empty label"},
        {"ejemplo.es.", "an empty label"},
        {"ejemplo..es", "an empty label"},
        {".", "an empty label"},
        {"-ejemplo.es", "starts or ends with a hyphen"},
        {"ejemplo-.es", "starts or ends with a hyphen"},
        {"mail.-ejemplo.es", "starts or ends with a hyphen"},
        {"ejemplo.es-", "starts or ends with a hyphen"},
        {"ejemplo_nuevo.es", "a character other than"},
        {"ejemplo nuevo.es", "a character other than"},
        {" ejemplo.es", "a character other than"},
        {"ejemplo.es ", "a character other than"},
        {"ana@ejemplo.es", "a character other than"},
        {"espa\xF1" "a.es", "a character other than"},      // a Latin-1 letter
        {"espa\xC3\xB1" "a.es", "a character other than"},  // the same in UTF-8
        {"e" + longest, "longer than 254"},
        {shipped[0], "listed twice"},
        {Upper(shipped[0]), "listed twice"},
        {Lower(shipped[0]), "listed twice"},
    };
    for (const std::string& entry : shipped) {
        if (Lower(entry) != entry) cases.push_back({Lower(entry), "listed twice"});  // an entry with capitals
    }
    for (const EntryCase& c : cases) {
        SCOPED_TRACE("\"" + c.entry + "\"");
        std::vector<std::string> list = shipped;
        if (c.fault[0] == '\0') {
            list.erase(std::remove_if(list.begin(), list.end(),
                                      [&](const std::string& e) { return Lower(e) == Lower(c.entry); }),
                       list.end());
        }
        const std::multiset<std::string> before = ListFaults(list);
        list.insert(list.begin() + (int)list.size() / 2, c.entry);
        const std::multiset<std::string> after = ListFaults(list);
        std::vector<std::string> added;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
        if (c.fault[0] == '\0') {
            EXPECT_TRUE(added.empty()) << added[0];
        } else {
            ASSERT_EQ(added.size(), 1u);
            EXPECT_NE(added[0].find("\"" + c.entry + "\": "), std::string::npos) << added[0];
            EXPECT_NE(added[0].find(c.fault), std::string::npos) << added[0];
        }
    }
}

// The list as shipped, counted. A change to the list must change these figures with it.
struct ShippedCount {
    const char* what;  // a top-level domain, or "upper case" for the entries written with capitals
    int entries;
};
const ShippedCount kShippedCounts[] = {
    {"com", 153},
    {"es", 95},
    {"net", 6},
    {"org", 2},
    {"upper case", 1},
};

TEST(HostedDomains, ShippedListAsCounted)
{
    std::map<std::string, int> counted;
    for (const std::string& entry : ShippedEntries()) {
        ++counted[Lower(entry.substr(entry.rfind('.') + 1))];
        if (Lower(entry) != entry) ++counted["upper case"];
    }
    std::map<std::string, int> expected;
    for (const ShippedCount& c : kShippedCounts) expected[c.what] = c.entries;
    std::string now;
    for (const auto& c : counted) now += "    {\"" + c.first + "\", " + std::to_string(c.second) + "},\n";
    EXPECT_EQ(counted, expected)
        << "HostedDomains in migration/hosted_domains.cpp no longer has the shipped composition. If the list was "
           "changed on purpose, replace kShippedCounts in tests/unit/hosted_domains_test.cpp with what it holds "
           "now:\n" << now;
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
