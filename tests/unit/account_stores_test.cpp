// Tests of the walk of the account stores, as a table of registries and the keys the walk must open and
// close, in order, with the access asked for and the result. Boxes show the walk reaches the update.
#include <functional>
#include <string>
#include <vector>

#include "account_stores.h"
#include "test_support.h"

namespace {

#define MANAGER "HKLM\\Software\\Microsoft\\Internet Account Manager"
#define OUTLOOK_PATH "Software\\Microsoft\\Office\\Outlook\\OMI Account Manager"
#define SECOND_STORE "HKCU\\" OUTLOOK_PATH "\\Accounts"

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

// A store opened for reading, each account opened for reading and writing and closed, then the store closed.
Trace Walked(const std::string& store, const std::vector<std::string>& accounts)
{
    Trace trace{Open(store, "0x20019", 0)};
    for (const std::string& account : accounts) trace = trace + Trace{Open(store + "\\" + account, "0x2001f", 0),
                                                                         Close(store + "\\" + account)};
    return trace + Trace{Close(store)};
}
Trace Missing(const std::string& store) { return {Open(store, "0x20019", 2)}; }
// The machine-wide key opened only to read the pointer, and closed at once.
Trace PointerRead() { return {Open(MANAGER, "0x1", 0), Close(MANAGER)}; }

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

const Trace kBothStores = Walked(FIRST_STORE, {"00000001", "00000002"}) + PointerRead() +
                          Walked(SECOND_STORE, {"00000001"});
const Trace kFirstOnly = Walked(FIRST_STORE, {"00000001", "00000002"}) + PointerRead();

struct WalkCase {
    const char* what;
    std::function<void()> setup;
    Trace expected;
};

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
    {"account key refused",
     [] { BothStores(); standin::FailOpen(FIRST_STORE "\\00000001", ERROR_ACCESS_DENIED); },
     Trace{Open(FIRST_STORE, "0x20019", 0), Open(FIRST_STORE "\\00000001", "0x2001f", 5),
           Open(FIRST_STORE "\\00000002", "0x2001f", 0), Close(FIRST_STORE "\\00000002"), Close(FIRST_STORE)} +
         PointerRead() + Walked(SECOND_STORE, {"00000001"})},
    {"enumeration error ends that store's walk",
     [] { BothStores(); standin::FailEnum(FIRST_STORE, 1, ERROR_BADDB); },
     Walked(FIRST_STORE, {"00000001"}) + PointerRead() + Walked(SECOND_STORE, {"00000001"})},
    {"store with no accounts", [] { standin::CreateKey(FIRST_STORE); Pointer(OUTLOOK_PATH); },
     Walked(FIRST_STORE, {}) + PointerRead() + Missing(SECOND_STORE)},
    {"longest key name", [] { Accounts(FIRST_STORE, {"a", Repeat('k', 255).c_str(), "z"}); },
     Walked(FIRST_STORE, {"a", Repeat('k', 255), "z"}) + Trace{Open(MANAGER, "0x1", 2)}},
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
};

void PrintTo(const WalkCase& c, std::ostream* out) { *out << c.what; }

class AccountStores : public StandinTest, public ::testing::WithParamInterface<WalkCase> {};
class AccountStoresUpdate : public StandinTest {};

TEST_P(AccountStores, OpensAndClosesInOrder)
{
    GetParam().setup();
    UpdateAllStores();
    EXPECT_EQ(KeyTrace(), GetParam().expected);
    EXPECT_TRUE(standin::Writes().empty()) << "accounts without values are only read";
    EXPECT_TRUE(standin::Boxes().empty()) << "the walk itself is silent";
}

INSTANTIATE_TEST_SUITE_P(Walks, AccountStores, ::testing::ValuesIn(kWalkCases),
                         CaseName());

// Accounts of a hosted domain in both stores are updated, those of the first store first.
TEST_F(AccountStoresUpdate, BothStoresInStoreOrder)
{
    BothStores();
    const char* accounts[] = {FIRST_STORE "\\00000002", SECOND_STORE "\\00000001"};
    const char* names[] = {"Casa", "Oficina"};
    for (int i = 0; i < 2; ++i) StoreHostedAccount(accounts[i], names[i]);
    UpdateAllStores();
    ASSERT_EQ(standin::Boxes().size(), 2u);
    EXPECT_EQ(standin::Boxes()[0].text, "Se ha actualizado correctamente la cuenta Casa.");
    EXPECT_EQ(standin::Boxes()[1].text, "Se ha actualizado correctamente la cuenta Oficina.");
    for (const char* account : accounts)
        EXPECT_EQ(standin::GetValue(account, "POP3 Server").bytes, Sz("pop3.naricantec.es")) << account;
}

}  // namespace
