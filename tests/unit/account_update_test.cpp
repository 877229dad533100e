// Tests of the account update, as tables of accounts: values before, values expected to change, and the
// boxes expected in order. Every value not expected to change must be byte-identical afterwards.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "account_update.h"
#include "test_support.h"

namespace {

const char kAccount[] = FIRST_STORE "\\00000001";
const char kDomain[] = "fontaneria-delinon.com";

const char kName[] = "Account Name";
const char kAddress[] = "SMTP Email Address";
const char kPop3[] = "POP3 Server";
const char kUser[] = "POP3 User Name";
const char kSmtp[] = "SMTP Server";
const char kSicily[] = "SMTP Use Sicily";

struct Val {
    std::string name;
    DWORD type;
    std::string bytes;
};
Val S(const char* name, const std::string& text) { return Val{name, REG_SZ, Sz(text)}; }
Val Raw(const char* name, const std::string& bytes, DWORD type = REG_SZ) { return Val{name, type, bytes}; }
Val D(const char* name, DWORD value) { return Val{name, REG_DWORD, Dw(value)}; }

typedef std::vector<Val> Vals;

Vals With(Vals values, const Val& value)
{
    for (Val& v : values)
        if (v.name == value.name) {
            v = value;
            return values;
        }
    values.push_back(value);
    return values;
}

Vals Without(Vals values, const char* name)
{
    values.erase(std::remove_if(values.begin(), values.end(), [&](const Val& v) { return v.name == name; }),
                 values.end());
    return values;
}

// A typical account as a mail client leaves it.
Vals Account(const std::string& address, const std::string& user = "juan")
{
    return {S(kName, "Correo Juan"), S(kAddress, address), S(kPop3, "pop.old-isp.net"), S(kUser, user),
            S(kSmtp, "smtp.old-isp.net"), D("Connection Type", 3)};
}

// The four values of an account converted for `domain`.
Vals Converted(const std::string& domain, const std::string& user = "juan")
{
    return {S(kPop3, "pop3." + domain), S(kUser, user + "." + domain), S(kSmtp, "smtp." + domain), D(kSicily, 2)};
}

struct ExpectedBox {
    std::string caption;
    std::string text;
    UINT style;
};
ExpectedBox Notice(const std::string& label)
{
    return ExpectedBox{kAtencion, "Se ha actualizado correctamente la cuenta " + label + ".", 0x40};
}
ExpectedBox Error(const std::string& caption, const std::string& body) { return ExpectedBox{caption, body, 0}; }

const char kErrReadUser[] = "Error leyendo el nombre de cuenta";
const char kErrWriteUser[] = "Error escribiendo el nombre de cuenta";
const char kNotFound[] = "The system cannot find the file specified.\r\n";
const char kTooSmall[] = "The data area passed to a system call is too small.\r\n";

struct AccountCase {
    const char* label;
    Vals before;
    Vals changed;  // values that differ or are added afterwards
    std::vector<ExpectedBox> boxes;
};

void Store(const Vals& values)
{
    standin::CreateKey(kAccount);
    for (const Val& v : values) standin::SetValue(kAccount, v.name.c_str(), v.type, v.bytes.data(), v.bytes.size());
}

class AccountUpdate : public StandinTest {
protected:
    // Opens the account as the store walk does, updates it and closes it.
    void Run(REGSAM access = KEY_READ | KEY_WRITE)
    {
        HKEY key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kAccount + 5, 0, access, &key), ERROR_SUCCESS);
        UpdateAccount(key);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS) << "the account key is the caller's to close";
    }

    void Check(const AccountCase& c)
    {
        SCOPED_TRACE(c.label);
        standin::Reset();
        Store(c.before);
        Run();
        std::string after = standin::Dump(kAccount);
        std::vector<standin::Box> boxes = standin::Boxes();
        std::vector<standin::Write> writes = standin::Writes();
        for (const std::string& problem : standin::Problems()) ADD_FAILURE() << problem;

        standin::Reset();
        Vals expected = c.before;
        for (const Val& v : c.changed) expected = With(expected, v);
        Store(expected);
        EXPECT_EQ(after, standin::Dump(kAccount));

        ASSERT_EQ(boxes.size(), c.boxes.size());
        for (size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_EQ(boxes[i].caption, c.boxes[i].caption) << "box " << i;
            EXPECT_EQ(boxes[i].text, c.boxes[i].text) << "box " << i;
            EXPECT_EQ(boxes[i].style, c.boxes[i].style) << "box " << i;
            EXPECT_EQ(boxes[i].owner, (HWND)NULL);
        }
        if (c.changed.empty() && c.boxes.empty()) {
            EXPECT_TRUE(writes.empty()) << "an untouched account was written";
        }
        for (const standin::Write& w : writes) {
            if (w.type != REG_SZ) continue;
            EXPECT_LE(w.bytes.size(), 260u) << w.name;
            EXPECT_EQ(w.bytes.find('\0'), w.bytes.size() - 1) << w.name << ": one NUL, at the end";
        }
        standin::Reset();
    }
};

TEST_F(AccountUpdate, HostedAccountsAreRewritten)
{
    const std::string upper = "VALELANGRUPO.COM";
    const AccountCase cases[] = {
        {"hosted account", Account("juan@fontaneria-delinon.com"), Converted(kDomain), {Notice("Correo Juan")}},
        {"domain in mixed case: written as in the address", Account("juan@Fontaneria-Delinon.COM"),
         Converted("Fontaneria-Delinon.COM"), {Notice("Correo Juan")}},
        {"the upper-case list entry, address in lower case", Account("ana@valelangrupo.com"),
         Converted("valelangrupo.com"), {Notice("Correo Juan")}},
        {"the upper-case list entry, address in upper case", Account("ANA@" + upper), Converted(upper),
         {Notice("Correo Juan")}},
        {"existing SMTP Use Sicily is set to 2", With(Account("juan@fontaneria-delinon.com"), D(kSicily, 0)),
         Converted(kDomain), {Notice("Correo Juan")}},
        {"SMTP Use Sicily of another type is replaced by a DWORD",
         With(Account("juan@fontaneria-delinon.com"), Raw(kSicily, "x", REG_BINARY)), Converted(kDomain),
         {Notice("Correo Juan")}},
        {"no SMTP Server: receiving side only", Without(Account("juan@fontaneria-delinon.com"), kSmtp),
         {S(kPop3, "pop3.fontaneria-delinon.com"), S(kUser, "juan.fontaneria-delinon.com")},
         {Notice("Correo Juan")}},
        {"no POP3 User Name: error, sending side still rewritten",
         Without(Account("juan@fontaneria-delinon.com"), kUser),
         {S(kPop3, "pop3.fontaneria-delinon.com"), S(kSmtp, "smtp.fontaneria-delinon.com"), D(kSicily, 2)},
         {Error(kErrReadUser, kNotFound), Notice("Correo Juan")}},
        {"no Account Name: named by its address", Without(Account("juan@fontaneria-delinon.com"), kName),
         Converted(kDomain), {Notice("juan@fontaneria-delinon.com")}},
        {"empty Account Name: named by its address",
         With(Account("juan@fontaneria-delinon.com"), S(kName, "")), Converted(kDomain),
         {Notice("juan@fontaneria-delinon.com")}},
        {"values stored without their NUL",
         {Raw(kName, "Correo Juan"), Raw(kAddress, "juan@fontaneria-delinon.com"), Raw(kPop3, "pop.old"),
          Raw(kUser, "juan"), Raw(kSmtp, "smtp.old")},
         Converted(kDomain), {Notice("Correo Juan")}},
        {"types are not examined", With(Account("juan@fontaneria-delinon.com"),
                                        Raw(kAddress, Sz("juan@fontaneria-delinon.com"), REG_BINARY)),
         Converted(kDomain), {Notice("Correo Juan")}},
        {"empty POP3 Server still counts as present", With(Account("juan@fontaneria-delinon.com"), S(kPop3, "")),
         Converted(kDomain), {Notice("Correo Juan")}},
        {"empty user name", Account("juan@fontaneria-delinon.com", ""), Converted(kDomain, ""),
         {Notice("Correo Juan")}},
    };
    for (const AccountCase& c : cases) Check(c);
}

TEST_F(AccountUpdate, OtherAccountsStayByteIdentical)
{
    const Vals longAddress = Account(Repeat('a', 300) + "@fontaneria-delinon.com");
    const AccountCase cases[] = {
        {"domain not hosted", Account("juan@otro-proveedor.com"), {}, {}},
        {"sub-domain of a hosted domain", Account("juan@mail.fontaneria-delinon.com"), {}, {}},
        {"trailing dot", Account("juan@fontaneria-delinon.com."), {}, {}},
        {"two at signs: the domain is all after the first", Account("juan@x@fontaneria-delinon.com"), {}, {}},
        {"no at sign", Account("fontaneria-delinon.com"), {}, {}},
        {"ends in its at sign", Account("juan@"), {}, {}},
        {"empty address", Account(""), {}, {}},
        {"no address", Without(Account("juan@fontaneria-delinon.com"), kAddress), {}, {}},
        {"no POP3 Server: sending side untouched too", Without(Account("juan@fontaneria-delinon.com"), kPop3), {},
         {}},
        {"address longer than the buffer", longAddress, {}, {}},
        {"POP3 Server of 260 bytes without NUL",
         With(Account("juan@fontaneria-delinon.com"), Raw(kPop3, Repeat('p', 260))), {}, {}},
        {"no values at all", {}, {}, {}},
    };
    for (const AccountCase& c : cases) Check(c);
}

TEST_F(AccountUpdate, NothingIsWrittenCutShortOrExtendedTwice)
{
    // "juan" + "." + domain is 4 + 1 + 22 characters; pad the user name to the limit of 259.
    const std::string fits = Repeat('u', 259 - 1 - strlen(kDomain));
    const std::string tooLong = fits + "u";
    const std::string name216 = Repeat('n', 216), name217 = Repeat('n', 217);
    const AccountCase cases[] = {
        {"new user name of exactly 259 characters", Account("juan@fontaneria-delinon.com", fits),
         Converted(kDomain, fits), {Notice("Correo Juan")}},
        {"new user name of 260 characters: error, old name kept, rest done",
         Account("juan@fontaneria-delinon.com", tooLong),
         {S(kPop3, "pop3.fontaneria-delinon.com"), S(kSmtp, "smtp.fontaneria-delinon.com"), D(kSicily, 2)},
         {Error(kErrWriteUser, kTooSmall), Notice("Correo Juan")}},
        {"already extended: not extended again",
         With(Account("juan@fontaneria-delinon.com"), S(kUser, "juan.fontaneria-delinon.com")), Converted(kDomain),
         {Notice("Correo Juan")}},
        {"already extended in another letter case",
         With(Account("juan@fontaneria-delinon.com"), S(kUser, "juan.FONTANERIA-DELINON.COM")),
         Without(Converted(kDomain), kUser), {Notice("Correo Juan")}},
        {"ending in the domain without the dot is extended",
         With(Account("juan@fontaneria-delinon.com"), S(kUser, "juanfontaneria-delinon.com")),
         Converted(kDomain, "juanfontaneria-delinon.com"), {Notice("Correo Juan")}},
        {"account name of 216 characters fills the notice",
         With(Account("juan@fontaneria-delinon.com"), S(kName, name216)), Converted(kDomain), {Notice(name216)}},
        {"longer account name is shortened with an ellipsis",
         With(Account("juan@fontaneria-delinon.com"), S(kName, name217)), Converted(kDomain),
         {Notice(Repeat('n', 213) + "...")}},
    };
    for (const AccountCase& c : cases) Check(c);
}

TEST_F(AccountUpdate, SecondRunWritesNothingNew)
{
    Store(Account("juan@fontaneria-delinon.com"));
    Run();
    std::string once = standin::Dump(kAccount);
    Run();
    EXPECT_EQ(standin::Dump(kAccount), once);
    ASSERT_EQ(standin::Boxes().size(), 2u);
    EXPECT_EQ(standin::Boxes()[1].text, Notice("Correo Juan").text);
}

// One refused write at a time: its error box comes at once and every later write still happens.
struct WriteFault {
    const char* value;
    LONG error;
    const char* caption;
    const char* body;
};

TEST_F(AccountUpdate, EachRefusedWriteIsReportedAndTheRestGoesOn)
{
    const WriteFault faults[] = {
        {kPop3, ERROR_ACCESS_DENIED, "Error configurando POP3", "Access is denied.\r\n"},
        {kUser, ERROR_CANTWRITE, kErrWriteUser, "The configuration registry key could not be written.\r\n"},
        {kSmtp, ERROR_BADDB, "Error configurando SMTP Server", "The configuration registry database is corrupt.\r\n"},
        {kSicily, 4242, "Error configurando autenticaci\xF3n SMTP", "Error 4242"},
        {kPop3, 0x7FFFFFFF, "Error configurando POP3", "Error 2147483647"},
    };
    for (const WriteFault& f : faults) {
        SCOPED_TRACE(f.value);
        standin::Reset();
        Vals before = Account("juan@fontaneria-delinon.com");
        Store(before);
        standin::FailSet(kAccount, f.value, f.error);
        Run();
        Vals expected = before;
        for (const Val& v : Converted(kDomain))
            if (v.name != f.value) expected = With(expected, v);
        std::string after = standin::Dump(kAccount);
        std::vector<standin::Box> boxes = standin::Boxes();
        std::vector<std::string> calls = standin::Calls();
        standin::Reset();
        Store(expected);
        EXPECT_EQ(after, standin::Dump(kAccount));
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].caption, f.caption);
        EXPECT_EQ(boxes[0].text, f.body);
        EXPECT_EQ(boxes[0].style, 0u);
        EXPECT_EQ(boxes[1].text, Notice("Correo Juan").text);
        // The error box follows its write at once.
        auto failed = std::find(calls.begin(), calls.end(), "set " + std::string(f.value) + " -> " +
                                                                std::to_string(f.error));
        ASSERT_NE(failed, calls.end());
        EXPECT_EQ(*(failed + 1), "box " + std::string(f.caption));
    }
}

TEST_F(AccountUpdate, ReadOnlyAccountReportsEveryWrite)
{
    Store(Account("juan@fontaneria-delinon.com"));
    Run(KEY_READ);
    std::vector<std::string> captions;
    for (const standin::Box& box : standin::Boxes()) captions.push_back(box.caption);
    EXPECT_EQ(captions, (std::vector<std::string>{"Error configurando POP3", kErrWriteUser,
                                                  "Error configurando SMTP Server",
                                                  "Error configurando autenticaci\xF3n SMTP", kAtencion}));
    EXPECT_TRUE(standin::Writes().empty());
}

TEST_F(AccountUpdate, UnreadableUserNameIsReportedWithTheReadsError)
{
    Store(Account("juan@fontaneria-delinon.com"));
    standin::FailQuery(kAccount, kUser, ERROR_BADDB);
    Run();
    ASSERT_EQ(standin::Boxes().size(), 2u);
    EXPECT_EQ(standin::Boxes()[0].caption, kErrReadUser);
    EXPECT_EQ(standin::Boxes()[0].text, "The configuration registry database is corrupt.\r\n");
    EXPECT_EQ(standin::GetValue(kAccount, kUser).bytes, Sz("juan"));
    EXPECT_EQ(standin::GetValue(kAccount, kSmtp).bytes, Sz("smtp.fontaneria-delinon.com"));
}

TEST_F(AccountUpdate, ReadsWritesAndBoxesComeInOrder)
{
    Store(Account("juan@fontaneria-delinon.com"));
    Run();
    std::vector<std::string> calls = standin::Calls();
    calls.erase(calls.begin());  // the test's own open
    calls.pop_back();            // and close
    const std::vector<std::string> expected = {
        "query Account Name -> 0", "query SMTP Email Address -> 0", "query POP3 Server -> 0",
        "set POP3 Server -> 0",    "query POP3 User Name -> 0",     "set POP3 User Name -> 0",
        "query SMTP Server -> 0",  "set SMTP Server -> 0",          "set SMTP Use Sicily -> 0",
        std::string("box ") + kAtencion,
    };
    EXPECT_EQ(calls, expected);
    // Strings are written with their NUL counted, the DWORD as four bytes, least significant first.
    ASSERT_EQ(standin::Writes().size(), 4u);
    EXPECT_EQ(standin::Writes()[0].type, (DWORD)REG_SZ);
    EXPECT_EQ(standin::Writes()[0].bytes, Sz("pop3.fontaneria-delinon.com"));
    EXPECT_EQ(standin::Writes()[3].type, (DWORD)REG_DWORD);
    EXPECT_EQ(standin::Writes()[3].bytes, std::string("\x02\x00\x00\x00", 4));
}

}  // namespace
