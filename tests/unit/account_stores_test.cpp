// Tests of the walk of the account stores, as a table of registries and the keys the walk must open and
// close, in order, with the access asked for and the result. Notices show the walk reaches the update with
// each store's account format.
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "account_stores.h"
#include "test_support.h"

namespace {

#define MANAGER "HKLM\\Software\\Microsoft\\Internet Account Manager"
#define OUTLOOK_PATH "Software\\Microsoft\\Office\\Outlook\\OMI Account Manager"
#define SECOND_STORE "HKCU\\" OUTLOOK_PATH "\\Accounts"
#define IDENTITIES "HKCU\\Identities"
#define IDENTITY_STORE "Software\\Microsoft\\Internet Account Manager\\Accounts"
#define PROFILE_STORE "9375CFF0413111d3B88A00104B2A6676"

// The roots of the mail profiles, in the order they are walked: Outlook 2002-2010, 2013, 2016 and later.
const char* const kProfileRoots[] = {
    "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles",
    "HKCU\\Software\\Microsoft\\Office\\15.0\\Outlook\\Profiles",
    "HKCU\\Software\\Microsoft\\Office\\16.0\\Outlook\\Profiles",
};
// Where Outlook 2002-2010 kept its profiles on Windows 98 and Me, which the program does not run on: a leftover.
const char kLeftoverRoot[] = "HKCU\\Software\\Microsoft\\Windows Messaging Subsystem\\Profiles";

typedef std::vector<std::string> Trace;

std::string Open(const std::string& path, const char* access, LONG result)
{
    return "open " + path + " " + access + " -> " + std::to_string(result);
}
std::string Close(const std::string& path) { return "close " + path + " -> 0"; }

Trace operator+(Trace a, const Trace& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A store opened for reading, each account opened for reading and setting values (KEY_READ | KEY_SET_VALUE, no
// more) and closed, then the store closed.
Trace Walked(const std::string& store, const std::vector<std::string>& accounts)
{
    Trace trace{Open(store, "0x20019", 0)};
    for (const std::string& account : accounts) trace = trace + Trace{Open(store + "\\" + account, "0x2001b", 0),
                                                                         Close(store + "\\" + account)};
    return trace + Trace{Close(store)};
}
Trace Missing(const std::string& store) { return {Open(store, "0x20019", 2)}; }
// The machine-wide key opened only to read the pointer, and closed at once.
Trace PointerRead() { return {Open(MANAGER, "0x1", 0), Close(MANAGER)}; }
// An identity or a profile opened for reading, the store below it walked (or missing), and closed.
Trace Owner(const std::string& key, const char* store, const std::vector<std::string>& accounts, bool hasStore = true)
{
    std::string path = key + "\\" + store;
    return Trace{Open(key, "0x20019", 0)} + (hasStore ? Walked(path, accounts) : Missing(path)) + Trace{Close(key)};
}
// A parent key (the identities, a profile root) opened, its owners visited, and closed.
Trace Parent(const std::string& key, const Trace& owners) { return Trace{Open(key, "0x20019", 0)} + owners + Trace{Close(key)}; }
// The profile roots from index `first` up to `end`, all missing.
Trace RootsMissing(size_t first, size_t end)
{
    Trace trace;
    for (size_t i = first; i < end; ++i) trace = trace + Missing(kProfileRoots[i]);
    return trace;
}
// The stores after the first two, none of them present: the identities, then the profile roots.
Trace NoLaterStores()
{
    return Missing(IDENTITIES) + RootsMissing(0, 3);
}
// The opens and closes of the last run, in order.
Trace KeyTrace()
{
    Trace trace;
    for (const std::string& call : standin::Calls())
        if (call.compare(0, 5, "open ") == 0 || call.compare(0, 6, "close ") == 0) trace.push_back(call);
    return trace;
}

void Accounts(const char* store, std::initializer_list<const char*> names)
{
    for (const char* name : names) standin::CreateKey((std::string(store) + "\\" + name).c_str());
}
void Pointer(const std::string& path) { standin::SetString(MANAGER, "Outlook", path.c_str()); }
// Both stores with two and one accounts, as Outlook Express and Outlook leave them.
void BothStores()
{
    Accounts(FIRST_STORE, {"00000001", "00000002"});
    Accounts(SECOND_STORE, {"00000001"});
    Pointer(OUTLOOK_PATH);
}
// A pointer path of exactly `length` characters.
std::string PathOf(size_t length) { return "Software\\" + Repeat('p', length - 9); }

std::string ProfileKey(size_t root, const char* profile) { return std::string(kProfileRoots[root]) + "\\" + profile; }
// A profile with one account under the root of index `root`: alone in the registry, and how it is walked.
void OneProfile(size_t root) { Accounts((ProfileKey(root, "Outlook") + "\\" PROFILE_STORE).c_str(), {"00000001"}); }
Trace OneProfileWalked(size_t root)
{
    return Missing(FIRST_STORE) + Trace{Open(MANAGER, "0x1", 2)} + Missing(IDENTITIES) + RootsMissing(0, root) +
           Parent(kProfileRoots[root], Owner(ProfileKey(root, "Outlook"), PROFILE_STORE, {"00000001"})) +
           RootsMissing(root + 1, 3);
}

const Trace kBothStores = Walked(FIRST_STORE, {"00000001", "00000002"}) + PointerRead() +
                          Walked(SECOND_STORE, {"00000001"});
const Trace kFirstOnly = Walked(FIRST_STORE, {"00000001", "00000002"}) + PointerRead();

struct WalkCase {
    const char* what;
    std::function<void()> setup;
    Trace expected;
    Trace later = NoLaterStores();  // what follows `expected`: by default, no identities and no profiles
};

const std::string kIdentityA = IDENTITIES "\\{1A7C0D3E-5B2F-4E11-9C44-0A1B2C3D4E5F}";
const std::string kIdentityB = IDENTITIES "\\{8F2C4A10-77D1-4B9A-A2E3-6C5D4E3F2A10}";
const std::string kIdentityC = IDENTITIES "\\{C3D2E1F0-0000-4000-8000-00000000000C}";
void Identity(const std::string& key, std::initializer_list<const char*> accounts)
{
    standin::CreateKey(key.c_str());
    Accounts((key + "\\" IDENTITY_STORE).c_str(), accounts);
}
// Three identities: A with two accounts, B without an account store, C with one account.
void ThreeIdentities()
{
    Identity(kIdentityA, {"00000001", "00000002"});
    standin::CreateKey((kIdentityB + "\\Software").c_str());
    Identity(kIdentityC, {"00000001"});
}
const Trace kNoFirstTwo = Missing(FIRST_STORE) + Trace{Open(MANAGER, "0x1", 2)};

// Names outside the code page (key paths are UTF-8 here): 255 characters, the most a key name has; an identity;
// the store a pointer names, "Correo de Łucja" for Windows-1252 and "Почта" for Windows-1251's bytes; Outlook
// 2016 profiles, among them "Correo de Łucja", which the ANSI functions would take for "Correo de Lucja".
const std::string kLongestName = [] {
    std::string name;
    for (int i = 0; i < 255; ++i) name += "\u0141";
    return name;
}();
const std::string kIdentityZ = IDENTITIES "\\Identidad \u017B";
const std::string kLucjaStore = "HKCU\\Software\\Correo de \u0141ucja\\OMI Account Manager\\Accounts";
const std::string kPochtaStore = "HKCU\\Software\\\u041F\u043E\u0447\u0442\u0430\\Accounts";
const char* const kProfileNames[] = {"Correo de Lucja", "Correo de \u0141ucja", "\u041F\u043E\u0447\u0442\u0430"};
std::string ProfileStore(const char* profile) { return ProfileKey(2, profile) + "\\" PROFILE_STORE; }
const Trace kIdentityAWalked = Owner(kIdentityA, IDENTITY_STORE, {"00000001", "00000002"});
const Trace kIdentityBWalked = Owner(kIdentityB, IDENTITY_STORE, {}, false);
const Trace kIdentityCWalked = Owner(kIdentityC, IDENTITY_STORE, {"00000001"});

const WalkCase kWalkCases[] = {
    {"both stores, first then second", BothStores, kBothStores},
    {"no first store", [] { Accounts(SECOND_STORE, {"00000001"}); Pointer(OUTLOOK_PATH); },
     Missing(FIRST_STORE) + PointerRead() + Walked(SECOND_STORE, {"00000001"})},
    {"no stores at all", [] {}, Missing(FIRST_STORE) + Trace{Open(MANAGER, "0x1", 2)}},
    {"no machine-wide key", [] { Accounts(FIRST_STORE, {"00000001", "00000002"}); },
     Walked(FIRST_STORE, {"00000001", "00000002"}) + Trace{Open(MANAGER, "0x1", 2)}},
    {"no Outlook value",
     [] { Accounts(FIRST_STORE, {"00000001", "00000002"}); standin::SetString(MANAGER, "Other", OUTLOOK_PATH); },
     kFirstOnly},
    {"Outlook value unreadable", [] { BothStores(); standin::FailQuery(MANAGER, "Outlook", ERROR_ACCESS_DENIED); },
     kFirstOnly},
    {"Outlook value of 260 bytes without a NUL",
     [] {
         BothStores();
         std::string path = PathOf(260);
         standin::SetValue(MANAGER, "Outlook", REG_SZ, path.data(), path.size());
     },
     kFirstOnly},
    {"pointer to a missing store", [] { BothStores(); Pointer("Software\\Nowhere"); },
     kFirstOnly + Missing("HKCU\\Software\\Nowhere\\Accounts")},
    {"pointer of 250 characters is opened whole", [] { BothStores(); Pointer(PathOf(250)); },
     kFirstOnly + Missing("HKCU\\" + PathOf(250) + "\\Accounts")},
    {"pointer of 251 characters is passed over", [] { BothStores(); Pointer(PathOf(251)); }, kFirstOnly},
    {"pointer naming the first store, in other letter case",
     [] { BothStores(); Pointer("SOFTWARE\\microsoft\\Internet Account Manager"); }, kFirstOnly},
    // The pointer's path as the registry reads it: backslashes at either end dropped, doubled ones made single.
    {"pointer naming the first store with a trailing backslash",
     [] { BothStores(); Pointer("Software\\Microsoft\\Internet Account Manager\\"); }, kFirstOnly},
    {"pointer naming the first store with doubled backslashes at both ends",
     [] { BothStores(); Pointer("\\\\Software\\\\Microsoft\\Internet Account Manager\\\\"); }, kFirstOnly},
    {"pointer with stray backslashes opened as its store",
     [] { BothStores(); Pointer("\\Software\\\\Microsoft\\Office\\Outlook\\OMI Account Manager\\"); }, kBothStores},
    {"pointer of backslashes only is passed over", [] { BothStores(); Pointer("\\\\"); }, kFirstOnly},
    // An account key that may not be changed is opened to be read, and updated so; one that cannot even be read is
    // passed over.
    {"account key refused",
     [] { BothStores(); standin::FailOpen(FIRST_STORE "\\00000001", ERROR_ACCESS_DENIED); },
     Trace{Open(FIRST_STORE, "0x20019", 0), Open(FIRST_STORE "\\00000001", "0x2001b", 5),
           Open(FIRST_STORE "\\00000001", "0x20019", 5), Open(FIRST_STORE "\\00000002", "0x2001b", 0),
           Close(FIRST_STORE "\\00000002"), Close(FIRST_STORE)} +
         PointerRead() + Walked(SECOND_STORE, {"00000001"})},
    {"a name too long for the buffer ends the walk as any other failure",
     [] { BothStores(); standin::FailEnum(FIRST_STORE, 0, ERROR_MORE_DATA); },
     Trace{Open(FIRST_STORE, "0x20019", 0), Close(FIRST_STORE)} + PointerRead() + Walked(SECOND_STORE, {"00000001"})},
    {"enumeration error ends that store's walk",
     [] { BothStores(); standin::FailEnum(FIRST_STORE, 1, ERROR_BADDB); },
     Walked(FIRST_STORE, {"00000001"}) + PointerRead() + Walked(SECOND_STORE, {"00000001"})},
    {"store with no accounts", [] { standin::CreateKey(FIRST_STORE); Pointer(OUTLOOK_PATH); },
     Walked(FIRST_STORE, {}) + PointerRead() + Missing(SECOND_STORE)},
    {"longest key names, one outside the code page",
     [] { Accounts(FIRST_STORE, {"a", Repeat('k', 255).c_str(), kLongestName.c_str(), "z"}); },
     Walked(FIRST_STORE, {"a", Repeat('k', 255), "z", kLongestName}) + Trace{Open(MANAGER, "0x1", 2)}},
    // A pointer's path outside the code page is followed by its own name.
    {"pointer to a path outside the code page",
     [] {
         Accounts(FIRST_STORE, {"00000001", "00000002"});
         Accounts(kLucjaStore.c_str(), {"00000001"});
         std::string path = U16z(u"Software\\Correo de \u0141ucja\\OMI Account Manager");
         standin::SetValueW(MANAGER, "Outlook", REG_SZ, path.data(), path.size());
     },
     kFirstOnly + Walked(kLucjaStore, {"00000001"})},
    {"pointer of ANSI bytes read in the system's code page",
     [] {
         standin::SetAnsiCodePage(1251);
         Accounts(kPochtaStore.c_str(), {"00000001"});
         standin::SetValue(MANAGER, "Outlook", REG_NONE, "Software\\\xCF\xEE\xF7\xF2\xE0", 14);
     },
     Missing(FIRST_STORE) + PointerRead() + Walked(kPochtaStore, {"00000001"})},
    {"machine-wide key readable only", [] { BothStores(); standin::Grant("HKLM\\Software", KEY_READ); },
     kBothStores},
    {"stores readable only, accounts writable",
     [] {
         BothStores();
         standin::Grant(FIRST_STORE, KEY_READ);
         standin::Grant(FIRST_STORE "\\00000001", KEY_ALL_ACCESS);
         standin::Grant(FIRST_STORE "\\00000002", KEY_ALL_ACCESS);
     },
     kBothStores},
    // Outlook Express identities: each identity's own store, after the first two stores.
    {"identities after the first two stores, in enumeration order",
     [] { BothStores(); ThreeIdentities(); },
     kBothStores + Parent(IDENTITIES, kIdentityAWalked + kIdentityBWalked + kIdentityCWalked) + RootsMissing(0, 3),
     {}},
    {"identity key refused: the next one is walked",
     [] { ThreeIdentities(); standin::FailOpen(kIdentityA.c_str(), ERROR_ACCESS_DENIED); },
     kNoFirstTwo + Parent(IDENTITIES, Trace{Open(kIdentityA, "0x20019", 5)} + kIdentityBWalked + kIdentityCWalked) +
         RootsMissing(0, 3),
     {}},
    {"enumeration error ends the identities' walk only",
     [] { ThreeIdentities(); OneProfile(2); standin::FailEnum(IDENTITIES, 1, ERROR_BADDB); },
     kNoFirstTwo + Parent(IDENTITIES, kIdentityAWalked) + RootsMissing(0, 2) +
         Parent(kProfileRoots[2], Owner(ProfileKey(2, "Outlook"), PROFILE_STORE, {"00000001"})),
     {}},
    {"identity named outside the code page", [] { Identity(kIdentityZ, {"00000001"}); },
     kNoFirstTwo + Parent(IDENTITIES, Owner(kIdentityZ, IDENTITY_STORE, {"00000001"})) + RootsMissing(0, 3), {}},
    {"identities without sub-keys", [] { standin::CreateKey(IDENTITIES); },
     kNoFirstTwo + Parent(IDENTITIES, {}) + RootsMissing(0, 3), {}},
    // Outlook profiles: each root alone, then several profiles under one root.
    {"profile of Outlook 2002-2010", [] { OneProfile(0); }, OneProfileWalked(0), {}},
    {"profile of Outlook 2013", [] { OneProfile(1); }, OneProfileWalked(1), {}},
    {"profile of Outlook 2016 and later", [] { OneProfile(2); }, OneProfileWalked(2), {}},
    {"profile left from Windows 98 and Me is not walked",
     [] { Accounts((std::string(kLeftoverRoot) + "\\Outlook\\" PROFILE_STORE).c_str(), {"00000001"}); },
     kNoFirstTwo + Missing(IDENTITIES) + RootsMissing(0, 3), {}},
    {"profiles in enumeration order, one without an account store",
     [] {
         Accounts((ProfileKey(2, "Trabajo") + "\\" PROFILE_STORE).c_str(), {"00000001", "00000002"});
         standin::CreateKey(ProfileKey(2, "Casa").c_str());
         Accounts((ProfileKey(2, "Outlook") + "\\" PROFILE_STORE).c_str(), {"00000003"});
     },
     kNoFirstTwo + Missing(IDENTITIES) + RootsMissing(0, 2) +
         Parent(kProfileRoots[2], Owner(ProfileKey(2, "Casa"), PROFILE_STORE, {}, false) +
                                      Owner(ProfileKey(2, "Outlook"), PROFILE_STORE, {"00000003"}) +
                                      Owner(ProfileKey(2, "Trabajo"), PROFILE_STORE, {"00000001", "00000002"})),
     {}},
    // Profile names are the user's: each is walked once, by its own name, whatever the code page lacks.
    {"profiles named outside the code page, beside a look-alike",
     [] { for (const char* name : kProfileNames) Accounts(ProfileStore(name).c_str(), {"00000001"}); },
     kNoFirstTwo + Missing(IDENTITIES) + RootsMissing(0, 2) +
         Parent(kProfileRoots[2], [] {
             Trace owners;
             for (const char* name : kProfileNames)
                 owners = owners + Owner(ProfileKey(2, name), PROFILE_STORE, {"00000001"});
             return owners;
         }()),
     {}},
    {"under code page 1251, a profile named in Windows-1252",
     [] { standin::SetAnsiCodePage(1251); Accounts(ProfileStore("Correo de Mar\u00EDa").c_str(), {"00000001"}); },
     kNoFirstTwo + Missing(IDENTITIES) + RootsMissing(0, 2) +
         Parent(kProfileRoots[2], Owner(ProfileKey(2, "Correo de Mar\u00EDa"), PROFILE_STORE, {"00000001"})),
     {}},
    {"profile root refused", [] { OneProfile(2); standin::FailOpen(kProfileRoots[2], ERROR_ACCESS_DENIED); },
     kNoFirstTwo + Missing(IDENTITIES) + RootsMissing(0, 2) + Trace{Open(kProfileRoots[2], "0x20019", 5)}, {}},
    {"every kind of store at once, in walk order",
     [] {
         BothStores();
         ThreeIdentities();
         for (size_t root = 0; root < 3; ++root) OneProfile(root);
     },
     [] {
         Trace trace = kBothStores + Parent(IDENTITIES, kIdentityAWalked + kIdentityBWalked + kIdentityCWalked);
         for (size_t root = 0; root < 3; ++root)
             trace = trace + Parent(kProfileRoots[root], Owner(ProfileKey(root, "Outlook"), PROFILE_STORE, {"00000001"}));
         return trace;
     }(),
     {}},
};

void PrintTo(const WalkCase& c, std::ostream* out) { *out << c.what; }

class AccountStores : public StandinTest, public ::testing::WithParamInterface<WalkCase> {};
class AccountStoresUpdate : public StandinTest {};

TEST_P(AccountStores, OpensAndClosesInOrder)
{
    GetParam().setup();
    UpdateAllStores();
    EXPECT_EQ(KeyTrace(), GetParam().expected + GetParam().later);
    EXPECT_TRUE(standin::Writes().empty()) << "accounts without values are only read";
    EXPECT_TRUE(standin::Boxes().empty()) << "the walk itself is silent";
}

INSTANTIATE_TEST_SUITE_P(Walks, AccountStores, ::testing::ValuesIn(kWalkCases),
                         CaseName());

// A hosted account in every kind of store is updated in its own format, and the notices follow the walk.
TEST_F(AccountStoresUpdate, EveryStoreInWalkOrder)
{
    BothStores();
    ThreeIdentities();
    for (size_t root = 0; root < 3; ++root) OneProfile(root);
    const std::string ansi[][2] = {{FIRST_STORE "\\00000002", "Casa"},
                                   {SECOND_STORE "\\00000001", "Oficina"},
                                   {kIdentityA + "\\" IDENTITY_STORE "\\00000001", "Identidad A"},
                                   {kIdentityC + "\\" IDENTITY_STORE "\\00000001", "Identidad C"}};
    for (const auto& account : ansi) StoreHostedAccount(account[0].c_str(), account[1].c_str());
    const char* const profiles[] = {"Perfil 2010", "Perfil 2013", "Perfil 2016"};
    for (size_t root = 0; root < 3; ++root) {
        std::u16string name(profiles[root], profiles[root] + strlen(profiles[root]));
        StoreHostedProfileAccount((ProfileKey(root, "Outlook") + "\\" PROFILE_STORE "\\00000001").c_str(), name);
    }

    UpdateAllStores();

    std::vector<std::u16string> notices;
    for (const standin::Box& box : standin::Boxes()) notices.push_back(box.text);
    const std::u16string start = u"Se ha actualizado correctamente la cuenta ";
    std::vector<std::u16string> expected;
    for (const char16_t* label : {u"Casa", u"Oficina", u"Identidad A", u"Identidad C", u"Perfil 2010", u"Perfil 2013",
                                  u"Perfil 2016"})
        expected.push_back(start + label + u".");
    EXPECT_EQ(notices, expected);
    for (const auto& account : ansi) {
        standin::StoredValue user = standin::GetValue(account[0].c_str(), "POP3 User Name");
        EXPECT_EQ(user.type, (DWORD)REG_SZ) << account[0];
        EXPECT_EQ(user.bytes, Sz("ana.naricantec.es")) << account[0];
        EXPECT_EQ(standin::GetValue(account[0].c_str(), "SMTP Use Sicily").present, false) << "no SMTP Server";
    }
    for (size_t root = 0; root < 3; ++root) {
        std::string account = ProfileKey(root, "Outlook") + "\\" PROFILE_STORE "\\00000001";
        standin::StoredValue user = standin::GetValue(account.c_str(), "POP3 User");
        EXPECT_EQ(user.type, (DWORD)REG_BINARY) << account;
        EXPECT_EQ(user.wide, U16z(u"ana.naricantec.es")) << account;
    }
}

// Accounts whose keys refuse KEY_SET_VALUE: a hosted one is updated all the same, each refused change in its error
// box and then its notice; one of another domain is only read, as any other.
TEST_F(AccountStoresUpdate, ReadOnlyAccountsAreReportedNotPassedOver)
{
    StoreHostedAccount(FIRST_STORE "\\00000001", "Casa");
    standin::SetString(FIRST_STORE "\\00000001", "SMTP Server", "smtp.old.net");
    StoreHostedAccount(FIRST_STORE "\\00000002", "Ajena");
    standin::SetString(FIRST_STORE "\\00000002", "SMTP Email Address", "ana@otro-proveedor.com");
    standin::Grant(FIRST_STORE, KEY_READ);
    const std::string before = standin::Dump(FIRST_STORE);

    UpdateAllStores();

    std::vector<std::u16string> shown;
    for (const standin::Box& box : standin::Boxes()) shown.push_back(box.caption + u": " + box.text);
    const std::u16string denied = u": Access is denied.\r\n";
    const std::vector<std::u16string> expected = {
        u"Error configurando POP3" + denied, u"Error escribiendo el nombre de cuenta" + denied,
        u"Error configurando SMTP Server" + denied, u"Error configurando autenticaci\u00F3n SMTP" + denied,
        Wide(kAtencion) + u": Se ha actualizado correctamente la cuenta Casa."};
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(standin::Dump(FIRST_STORE), before);
}

}  // namespace
