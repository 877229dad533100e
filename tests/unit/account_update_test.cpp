// Tests of the account update, as tables of accounts in either format (ANSI strings of Outlook Express, UTF-16
// text of an Outlook profile): values before, values expected to change, and the boxes expected in order.
// Every value not expected to change must be byte-identical afterwards.
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "account_update.h"
#include "test_support.h"

namespace {

const char kAccount[] = FIRST_STORE "\\00000001";
const char kDomain[] = "fontaneria-delinon.com";
const std::u16string kDomainW = u"fontaneria-delinon.com";
const std::u16string kAddressW = u"juan@fontaneria-delinon.com";

const char kName[] = "Account Name";
const char kAddress[] = "SMTP Email Address";
const char kPop3[] = "POP3 Server";
const char kUser[] = "POP3 User Name";
const char kSmtp[] = "SMTP Server";
const char kSicily[] = "SMTP Use Sicily";
// The profile format's own names.
const char kEmail[] = "Email";
const char kPUser[] = "POP3 User";
const char kUseAuth[] = "SMTP Use Auth";
const char kAuthMethod[] = "SMTP Auth Method";
const AccountFormat* const kProfile = &kProfileAccountFormat;

struct Val {
    std::string name;
    DWORD type;
    std::string bytes;
    bool wide;  // stored as RegSetValueExW would: exact bytes
};
Val S(const char* name, const std::string& text) { return Val{name, REG_SZ, Sz(text), false}; }
Val Raw(const char* name, const std::string& bytes, DWORD type = REG_SZ) { return Val{name, type, bytes, false}; }
Val D(const char* name, DWORD value) { return Val{name, REG_DWORD, Dw(value), false}; }
// Profile text: UTF-16 with its NUL character, as REG_BINARY (Outlook's way) or REG_SZ; or any exact bytes.
Val B(const char* name, const std::u16string& text) { return Val{name, REG_BINARY, U16(text + u'\0'), true}; }
Val WS(const char* name, const std::u16string& text) { return Val{name, REG_SZ, U16(text + u'\0'), true}; }
Val WRaw(const char* name, const std::string& bytes, DWORD type = REG_BINARY) { return Val{name, type, bytes, true}; }

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

// A POP3 account of an Outlook profile, as Outlook leaves it.
Vals ProfileAccount(const std::u16string& address, const std::u16string& user = u"juan")
{
    return {B(kName, u"Correo Juan"), B(kEmail, address), B(kPop3, u"pop.old-isp.net"), B(kPUser, user),
            B(kSmtp, u"smtp.old-isp.net"), D("Account Type", 0)};
}

// The five values of a profile account converted for `domain`.
Vals ProfileConverted(const std::u16string& domain, const std::u16string& user = u"juan")
{
    return {B(kPop3, u"pop3." + domain), B(kPUser, user + u"." + domain), B(kSmtp, u"smtp." + domain),
            D(kUseAuth, 1), D(kAuthMethod, 0)};
}

struct ExpectedBox {
    std::u16string caption;
    std::u16string text;
    UINT style;
};
ExpectedBox Notice(const std::u16string& label)
{
    return ExpectedBox{Wide(kAtencion), u"Se ha actualizado correctamente la cuenta " + label + u".", 0x40};
}
ExpectedBox Notice(const std::string& label) { return Notice(Wide(label)); }
ExpectedBox Error(const std::string& caption, const std::string& body) { return ExpectedBox{Wide(caption), Wide(body), 0}; }

const char kErrReadUser[] = "Error leyendo el nombre de cuenta";
const char kErrWriteUser[] = "Error escribiendo el nombre de cuenta";
const char kNotFound[] = "The system cannot find the file specified.\r\n";
const char kTooSmall[] = "The data area passed to a system call is too small.\r\n";
const char kInvalid[] = "The data is invalid.\r\n";
const char kMoreData[] = "More data is available.\r\n";
const char kUnsupported[] = "Data of this type is not supported.\r\n";

struct AccountCase {
    const char* label;
    Vals before;
    Vals changed;  // values that differ or are added afterwards
    std::vector<ExpectedBox> boxes;
    const AccountFormat* format = &kInternetAccountFormat;
    UINT ansiCodePage = 1252;  // the system's, through which values stored as ANSI text are converted
};

void Store(const Vals& values)
{
    standin::CreateKey(kAccount);
    for (const Val& v : values) {
        if (v.wide) {
            standin::SetValueW(kAccount, v.name.c_str(), v.type, v.bytes.data(), v.bytes.size());
        } else {
            standin::SetValue(kAccount, v.name.c_str(), v.type, v.bytes.data(), v.bytes.size());
        }
    }
}

class AccountUpdate : public StandinTest {
protected:
    // Opens the account as the store walk does, updates it and closes it.
    void Run(const AccountFormat& format = kInternetAccountFormat, REGSAM access = KEY_READ | KEY_SET_VALUE)
    {
        HKEY key;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kAccount + 5, 0, access, &key), ERROR_SUCCESS);
        UpdateAccount(key, format);
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS) << "the account key is the caller's to close";
    }

    void Check(const AccountCase& c)
    {
        SCOPED_TRACE(c.label);
        standin::Reset();
        standin::SetAnsiCodePage(c.ansiCodePage);
        Store(c.before);
        Run(*c.format);
        std::string after = standin::Dump(kAccount);
        std::vector<standin::Box> boxes = standin::Boxes();
        std::vector<standin::Write> writes = standin::Writes();
        for (const std::string& problem : standin::Problems()) ADD_FAILURE() << problem;

        standin::Reset();
        standin::SetAnsiCodePage(c.ansiCodePage);
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
        // Texts are written with the wide function: UTF-16 with one NUL character at the end, or, for a value of an
        // Outlook Express store that is no string, ANSI bytes with one NUL.
        for (const standin::Write& w : writes) {
            if (w.type == REG_DWORD) continue;
            EXPECT_TRUE(w.wide) << w.name << ": a text is written with the wide function";
            if (c.format->utf16Data || w.type == REG_SZ || w.type == REG_EXPAND_SZ) {
                std::u16string text = FromU16(w.bytes);
                EXPECT_EQ(w.bytes.size() % 2, 0u) << w.name;
                EXPECT_LE(text.size(), 260u) << w.name;
                EXPECT_EQ(text.find(u'\0'), text.size() - 1) << w.name << ": one NUL character, at the end";
            } else {
                EXPECT_LE(w.bytes.size(), 260u) << w.name;
                EXPECT_EQ(w.bytes.find('\0'), w.bytes.size() - 1) << w.name << ": one NUL, at the end";
            }
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
        {"string values stored without their NUL",
         {Raw(kName, "Correo Juan"), Raw(kAddress, "juan@fontaneria-delinon.com"), Raw(kPop3, "pop.old"),
          Raw(kUser, "juan"), Raw(kSmtp, "smtp.old")},
         Converted(kDomain), {Notice("Correo Juan")}},
        {"bytes without their NUL end where the data ends; the user name keeps its type",
         {Raw(kName, "Correo Juan", REG_BINARY), Raw(kAddress, "juan@fontaneria-delinon.com", REG_BINARY),
          Raw(kPop3, "pop.old", REG_BINARY), Raw(kUser, "juan", REG_BINARY), Raw(kSmtp, "smtp.old", REG_BINARY)},
         With(Converted(kDomain), Raw(kUser, Sz("juan.fontaneria-delinon.com"), REG_BINARY)), {Notice("Correo Juan")}},
        // The texts of an Outlook Express store are read and written with the wide functions: nothing is lost to
        // the code page, and a name it can hold is stored with the same bytes as through the ANSI functions.
        {"user name outside the code page kept exactly",
         With(Account("juan@fontaneria-delinon.com"), WS(kUser, u"\u0141ucja \u4E2D")),
         With(Converted(kDomain), WS(kUser, u"\u0141ucja \u4E2D." + kDomainW)), {Notice("Correo Juan")}},
        {"account name outside the code page shown exactly",
         With(Account("juan@fontaneria-delinon.com"), WS(kName, u"Zo\u00EB \u0141\u0119cka")), Converted(kDomain),
         {Notice(u"Zo\u00EB \u0141\u0119cka")}},
        {"user name as REG_EXPAND_SZ keeps its type",
         With(Account("juan@fontaneria-delinon.com"), Raw(kUser, Sz("j\xFCrgen"), REG_EXPAND_SZ)),
         With(Converted(kDomain), Raw(kUser, Sz("j\xFCrgen.fontaneria-delinon.com"), REG_EXPAND_SZ)),
         {Notice("Correo Juan")}},
        {"user name of ANSI bytes keeps its type and bytes",
         With(Account("juan@fontaneria-delinon.com"), Raw(kUser, Sz("j\xFCrgen"), REG_BINARY)),
         With(Converted(kDomain), Raw(kUser, Sz("j\xFCrgen.fontaneria-delinon.com"), REG_BINARY)),
         {Notice("Correo Juan")}},
        {"user name as REG_MULTI_SZ is unreadable, rest done",
         With(Account("juan@fontaneria-delinon.com"), WRaw(kUser, U16z(u"juan") + U16z(u"ana"), REG_MULTI_SZ)),
         Without(Converted(kDomain), kUser), {Error(kErrReadUser, kUnsupported), Notice("Correo Juan")}},
        {"under code page 1251: a Cyrillic user name kept exactly",
         Account("juan@fontaneria-delinon.com", "\xC8\xE2\xE0\xED"), Converted(kDomain, "\xC8\xE2\xE0\xED"),
         {Notice("Correo Juan")}, &kInternetAccountFormat, 1251},
        {"under code page 1251: an account name of ANSI bytes shown in that code page",
         With(Account("juan@fontaneria-delinon.com"), Raw(kName, Sz("\xC8\xE2\xE0\xED"), REG_BINARY)),
         Converted(kDomain),
         {Notice(u"\u0418\u0432\u0430\u043D")}, &kInternetAccountFormat, 1251},
        {"types are not examined", With(Account("juan@fontaneria-delinon.com"),
                                        Raw(kAddress, Sz("juan@fontaneria-delinon.com"), REG_BINARY)),
         Converted(kDomain), {Notice("Correo Juan")}},
        {"empty POP3 Server still counts as present", With(Account("juan@fontaneria-delinon.com"), S(kPop3, "")),
         Converted(kDomain), {Notice("Correo Juan")}},
        {"empty user name stays empty", Account("juan@fontaneria-delinon.com", ""), Without(Converted(kDomain), kUser),
         {Notice("Correo Juan")}},
        // A user name that is the address gives its mailbox, then "." and the domain as the address writes it.
        {"user name that is the address", Account("juan@fontaneria-delinon.com", "juan@fontaneria-delinon.com"),
         Converted(kDomain), {Notice("Correo Juan")}},
        {"user name that is the address, in other letter cases",
         Account("juan@Fontaneria-Delinon.com", "Juan@FONTANERIA-DELINON.COM"),
         Converted("Fontaneria-Delinon.com", "Juan"), {Notice("Correo Juan")}},
        {"only the last at sign before the domain is replaced",
         Account("juan@fontaneria-delinon.com", "juan@fontaneria-delinon.com@fontaneria-delinon.com"),
         Converted(kDomain, "juan@fontaneria-delinon.com"), {Notice("Correo Juan")}},
        {"a mailbox that ends in \".\" and the domain is extended as any other",
         Account("juan@fontaneria-delinon.com", "juan.fontaneria-delinon.com@fontaneria-delinon.com"),
         Converted(kDomain, "juan.fontaneria-delinon.com"), {Notice("Correo Juan")}},
        {"another domain after the at sign is extended as any name",
         Account("juan@fontaneria-delinon.com", "juan@otro-proveedor.com"),
         Converted(kDomain, "juan@otro-proveedor.com"), {Notice("Correo Juan")}},
        {"an at sign and the domain with no mailbox is left as it is",
         Account("juan@fontaneria-delinon.com", "@fontaneria-delinon.com"), Without(Converted(kDomain), kUser),
         {Notice("Correo Juan")}},
        // Outlook profile accounts: UTF-16 text, each value's type kept, two DWORDs for the sending side.
        {"profile: hosted account", ProfileAccount(kAddressW), ProfileConverted(kDomainW), {Notice("Correo Juan")},
         kProfile},
        {"profile: texts stored as REG_SZ stay REG_SZ",
         {WS(kName, u"Correo Juan"), WS(kEmail, kAddressW), WS(kPop3, u"pop.old"), WS(kPUser, u"juan"),
          WS(kSmtp, u"smtp.old")},
         {WS(kPop3, u"pop3." + kDomainW), WS(kPUser, u"juan." + kDomainW), WS(kSmtp, u"smtp." + kDomainW),
          D(kUseAuth, 1), D(kAuthMethod, 0)},
         {Notice("Correo Juan")}, kProfile},
        {"profile: each value keeps its own type", With(ProfileAccount(kAddressW), WS(kSmtp, u"smtp.old")),
         With(ProfileConverted(kDomainW), WS(kSmtp, u"smtp." + kDomainW)), {Notice("Correo Juan")}, kProfile},
        {"profile: user name outside Windows-1252 kept exactly", ProfileAccount(kAddressW, u"\u0141ucja \u4E2D"),
         ProfileConverted(kDomainW, u"\u0141ucja \u4E2D"), {Notice("Correo Juan")}, kProfile},
        {"profile: account name outside the code page shown exactly",
         With(ProfileAccount(kAddressW), B(kName, u"Zo\u00EB \u0141\u0119cka \U0001F4E7")), ProfileConverted(kDomainW),
         {Notice(u"Zo\u00EB \u0141\u0119cka \U0001F4E7")}, kProfile},
        {"profile: no SMTP Server: receiving side only", Without(ProfileAccount(kAddressW), kSmtp),
         {B(kPop3, u"pop3." + kDomainW), B(kPUser, u"juan." + kDomainW)}, {Notice("Correo Juan")}, kProfile},
        {"profile: no POP3 User: error, sending side still rewritten", Without(ProfileAccount(kAddressW), kPUser),
         Without(ProfileConverted(kDomainW), kPUser), {Error(kErrReadUser, kNotFound), Notice("Correo Juan")},
         kProfile},
        {"profile: POP3 User of an odd byte count is unreadable",
         With(ProfileAccount(kAddressW), WRaw(kPUser, U16(u"juan") + std::string("\0\0\0", 3))),
         Without(ProfileConverted(kDomainW), kPUser), {Error(kErrReadUser, kInvalid), Notice("Correo Juan")},
         kProfile},
        {"profile: POP3 User without a NUL is unreadable", With(ProfileAccount(kAddressW), WRaw(kPUser, U16(u"juan"))),
         Without(ProfileConverted(kDomainW), kPUser), {Error(kErrReadUser, kInvalid), Notice("Correo Juan")},
         kProfile},
        {"profile: POP3 User of 260 characters without a NUL",
         With(ProfileAccount(kAddressW), WRaw(kPUser, U16(std::u16string(260, u'u')))),
         Without(ProfileConverted(kDomainW), kPUser), {Error(kErrReadUser, kMoreData), Notice("Correo Juan")},
         kProfile},
        {"profile: POP3 User of another type",
         With(ProfileAccount(kAddressW), WRaw(kPUser, U16z(u"juan"), REG_EXPAND_SZ)),
         Without(ProfileConverted(kDomainW), kPUser), {Error(kErrReadUser, kUnsupported), Notice("Correo Juan")},
         kProfile},
        {"profile: empty user name stays empty", ProfileAccount(kAddressW, u""),
         Without(ProfileConverted(kDomainW), kPUser), {Notice("Correo Juan")}, kProfile},
        {"profile: user name that is the address, in other letter cases, as REG_SZ",
         With(ProfileAccount(u"\u0141ucja@Fontaneria-Delinon.com"), WS(kPUser, u"\u0141ucja@fontaneria-delinon.COM")),
         With(ProfileConverted(u"Fontaneria-Delinon.com"), WS(kPUser, u"\u0141ucja.Fontaneria-Delinon.com")),
         {Notice("Correo Juan")}, kProfile},
        {"profile: a text ends at its first NUL character",
         With(ProfileAccount(kAddressW), WRaw(kPUser, U16(std::u16string(u"juan\0basura\0", 12)))),
         ProfileConverted(kDomainW), {Notice("Correo Juan")}, kProfile},
        {"profile: unreadable Account Name: named by its address",
         With(ProfileAccount(kAddressW), WRaw(kName, "odd")), ProfileConverted(kDomainW),
         {Notice("juan@fontaneria-delinon.com")}, kProfile},
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
        {"profile account, read as Outlook Express", ProfileAccount(kAddressW), {}, {}},
        {"profile: domain not hosted", ProfileAccount(u"juan@otro-proveedor.com"), {}, {}, kProfile},
        {"profile: IMAP account",
         {B(kName, u"IMAP"), B(kEmail, kAddressW), B("IMAP Server", u"imap.old"), B("IMAP User", u"juan"),
          B(kSmtp, u"smtp.old")},
         {}, {}, kProfile},
        {"profile: a letter outside ASCII in the domain", ProfileAccount(u"juan@fontaner\u00EDa-delinon.com"), {},
         {}, kProfile},
        {"profile: a character whose low byte is a listed letter",
         ProfileAccount(u"juan@fontaneria-delin\u016Fn.com"), {}, {}, kProfile},
        {"profile: Email without a NUL", With(ProfileAccount(kAddressW), WRaw(kEmail, U16(kAddressW))), {}, {},
         kProfile},
        {"profile: POP3 Server of 260 characters without a NUL",
         With(ProfileAccount(kAddressW), WRaw(kPop3, U16(std::u16string(260, u'p')))), {}, {}, kProfile},
        {"profile: Outlook Express account, read as a profile", Account("juan@fontaneria-delinon.com"), {}, {},
         kProfile},
    };
    for (const AccountCase& c : cases) Check(c);
}

TEST_F(AccountUpdate, NothingIsWrittenCutShortOrExtendedTwice)
{
    // "juan" + "." + domain is 4 + 1 + 22 characters; pad the user name to the limit of 259.
    const std::string fits = Repeat('u', 259 - 1 - strlen(kDomain));
    const std::string tooLong = fits + "u";
    const std::string name216 = Repeat('n', 216), name217 = Repeat('n', 217);
    const std::u16string fitsW(259 - 1 - strlen(kDomain), u'\u0141');
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
        // Profile texts count characters, not bytes: the user names are made of a two-byte letter.
        {"profile: new user name of exactly 259 characters", ProfileAccount(kAddressW, fitsW),
         ProfileConverted(kDomainW, fitsW), {Notice("Correo Juan")}, kProfile},
        {"profile: new user name of 260 characters: error, old name kept", ProfileAccount(kAddressW, fitsW + u'\u0141'),
         Without(ProfileConverted(kDomainW), kPUser), {Error(kErrWriteUser, kTooSmall), Notice("Correo Juan")},
         kProfile},
        {"profile: already extended: not extended again",
         With(ProfileAccount(kAddressW), B(kPUser, u"juan." + kDomainW)), ProfileConverted(kDomainW),
         {Notice("Correo Juan")}, kProfile},
        {"profile: longer account name is shortened with an ellipsis",
         With(ProfileAccount(kAddressW), B(kName, std::u16string(217, u'n'))), ProfileConverted(kDomainW),
         {Notice(Repeat('n', 213) + "...")}, kProfile},
        {"profile: the ellipsis never cuts a character of two units in half",
         With(ProfileAccount(kAddressW), B(kName, std::u16string(212, u'n') + u"\U0001F4E7nnnn")),
         ProfileConverted(kDomainW), {Notice(Repeat('n', 212) + "...")}, kProfile},
    };
    for (const AccountCase& c : cases) Check(c);
}

// An account of each format, and what it becomes.
struct FormatCase {
    const AccountFormat* format;
    Vals before;
    Vals converted;
};
const FormatCase kFormats[] = {
    {&kInternetAccountFormat, Account("juan@fontaneria-delinon.com"), Converted(kDomain)},
    {&kProfileAccountFormat, ProfileAccount(kAddressW), ProfileConverted(kDomainW)},
};

TEST_F(AccountUpdate, SecondRunWritesNothingNew)
{
    // Also with the address as the user name: once rewritten as the login, it is not rewritten again.
    const FormatCase cases[] = {
        kFormats[0], kFormats[1],
        {kFormats[0].format, With(kFormats[0].before, S(kUser, "juan@fontaneria-delinon.com")), kFormats[0].converted},
        {kProfile, With(kFormats[1].before, B(kPUser, kAddressW)), kFormats[1].converted}};
    for (const FormatCase& f : cases) {
        SCOPED_TRACE(f.format->address);
        standin::Reset();
        Store(f.before);
        Run(*f.format);
        std::string once = standin::Dump(kAccount);
        size_t writes = standin::Writes().size();
        Run(*f.format);
        EXPECT_EQ(standin::Dump(kAccount), once);
        EXPECT_EQ(standin::Writes().size(), 2 * writes - 1) << "a second run writes the same values again, all but the user name";
        ASSERT_EQ(standin::Boxes().size(), 2u);
        EXPECT_EQ(standin::Boxes()[1].text, Notice("Correo Juan").text);
    }
}

// One refused write at a time: its error box comes at once and every later write still happens.
struct WriteFault {
    const AccountFormat* format;
    const char* value;
    LONG error;
    const char* caption;
    const char* body;
};

TEST_F(AccountUpdate, EachRefusedWriteIsReportedAndTheRestGoesOn)
{
    const char kErrAuth[] = "Error configurando autenticaci\xF3n SMTP";
    const WriteFault faults[] = {
        {&kInternetAccountFormat, kPop3, ERROR_ACCESS_DENIED, "Error configurando POP3", "Access is denied.\r\n"},
        {&kInternetAccountFormat, kUser, ERROR_CANTWRITE, kErrWriteUser,
         "The configuration registry key could not be written.\r\n"},
        {&kInternetAccountFormat, kSmtp, ERROR_BADDB, "Error configurando SMTP Server",
         "The configuration registry database is corrupt.\r\n"},
        {&kInternetAccountFormat, kSicily, 4242, kErrAuth, "Error 4242"},
        {&kInternetAccountFormat, kPop3, 0x7FFFFFFF, "Error configurando POP3", "Error 2147483647"},
        {kProfile, kPop3, ERROR_ACCESS_DENIED, "Error configurando POP3", "Access is denied.\r\n"},
        {kProfile, kPUser, ERROR_CANTWRITE, kErrWriteUser, "The configuration registry key could not be written.\r\n"},
        {kProfile, kSmtp, ERROR_BADDB, "Error configurando SMTP Server",
         "The configuration registry database is corrupt.\r\n"},
        {kProfile, kUseAuth, 4242, kErrAuth, "Error 4242"},
        {kProfile, kAuthMethod, ERROR_ACCESS_DENIED, kErrAuth, "Access is denied.\r\n"},
    };
    for (const WriteFault& f : faults) {
        SCOPED_TRACE(f.value);
        standin::Reset();
        const FormatCase& account = kFormats[f.format == kProfile];
        Store(account.before);
        standin::FailSet(kAccount, f.value, f.error);
        Run(*f.format);
        Vals expected = account.before;
        for (const Val& v : account.converted)
            if (v.name != f.value) expected = With(expected, v);
        std::string after = standin::Dump(kAccount);
        std::vector<standin::Box> boxes = standin::Boxes();
        std::vector<std::string> calls = standin::Calls();
        standin::Reset();
        Store(expected);
        EXPECT_EQ(after, standin::Dump(kAccount));
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[0].caption, Wide(f.caption));
        EXPECT_EQ(boxes[0].text, Wide(f.body));
        EXPECT_EQ(boxes[0].style, 0u);
        EXPECT_EQ(boxes[1].text, Notice("Correo Juan").text);
        // The error box follows its write at once.
        const std::string failedCall = " " + std::string(f.value) + " -> " + std::to_string(f.error);
        auto failed = std::find_if(calls.begin(), calls.end(), [&](const std::string& call) {
            return call.compare(0, 3, "set") == 0 && call.size() > failedCall.size() &&
                   call.compare(call.size() - failedCall.size(), failedCall.size(), failedCall) == 0;
        });
        ASSERT_NE(failed, calls.end());
        EXPECT_EQ(*(failed + 1), "box " + std::string(f.caption));
    }
}

TEST_F(AccountUpdate, ReadOnlyAccountReportsEveryWrite)
{
    const std::string pop3 = "Error configurando POP3", smtp = "Error configurando SMTP Server",
                      auth = "Error configurando autenticaci\xF3n SMTP";
    const std::vector<std::string> captions[] = {
        {pop3, kErrWriteUser, smtp, auth, kAtencion},
        {pop3, kErrWriteUser, smtp, auth, auth, kAtencion},
    };
    // The captions read the same on a Cyrillic system.
    for (UINT codePage : {1252u, 1251u}) {
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE(codePage);
            standin::Reset();
            standin::SetAnsiCodePage(codePage);
            Store(kFormats[i].before);
            Run(*kFormats[i].format, KEY_READ);
            std::vector<std::u16string> shown, expected;
            for (const standin::Box& box : standin::Boxes()) shown.push_back(box.caption);
            for (const std::string& caption : captions[i]) expected.push_back(Wide(caption));
            EXPECT_EQ(shown, expected);
            EXPECT_TRUE(standin::Writes().empty());
        }
    }
}

TEST_F(AccountUpdate, UnreadableUserNameIsReportedWithTheReadsError)
{
    Store(Account("juan@fontaneria-delinon.com"));
    standin::FailQuery(kAccount, kUser, ERROR_BADDB);
    Run();
    ASSERT_EQ(standin::Boxes().size(), 2u);
    EXPECT_EQ(standin::Boxes()[0].caption, Wide(kErrReadUser));
    EXPECT_EQ(standin::Boxes()[0].text, u"The configuration registry database is corrupt.\r\n");
    EXPECT_EQ(standin::GetValue(kAccount, kUser).bytes, Sz("juan"));
    EXPECT_EQ(standin::GetValue(kAccount, kSmtp).bytes, Sz("smtp.fontaneria-delinon.com"));
}

TEST_F(AccountUpdate, ReadsWritesAndBoxesComeInOrder)
{
    const std::string notice = std::string("box ") + kAtencion;
    const std::vector<std::string> expected[] = {
        {"queryW Account Name -> 0", "queryW SMTP Email Address -> 0", "queryW POP3 Server -> 0",
         "setW POP3 Server -> 0", "queryW POP3 User Name -> 0", "setW POP3 User Name -> 0", "queryW SMTP Server -> 0",
         "setW SMTP Server -> 0", "set SMTP Use Sicily -> 0", notice},
        {"queryW Account Name -> 0", "queryW Email -> 0", "queryW POP3 Server -> 0", "setW POP3 Server -> 0",
         "queryW POP3 User -> 0", "setW POP3 User -> 0", "queryW SMTP Server -> 0", "setW SMTP Server -> 0",
         "set SMTP Use Auth -> 0", "set SMTP Auth Method -> 0", notice},
    };
    for (int i = 0; i < 2; ++i) {
        standin::Reset();
        Store(kFormats[i].before);
        Run(*kFormats[i].format);
        std::vector<std::string> calls = standin::Calls();
        calls.erase(calls.begin());  // the test's own open
        calls.pop_back();            // and close
        EXPECT_EQ(calls, expected[i]);
    }
    // Strings are written with their NUL counted, a DWORD as four bytes, least significant first.
    const std::vector<standin::Write>& writes = standin::Writes();
    ASSERT_EQ(writes.size(), 5u);
    EXPECT_EQ(writes[0].bytes, U16z(u"pop3.fontaneria-delinon.com"));
    EXPECT_EQ(writes[3].bytes, std::string("\x01\x00\x00\x00", 4));
    EXPECT_EQ(writes[4].bytes, std::string("\x00\x00\x00\x00", 4));
    standin::Reset();
    Store(kFormats[0].before);
    Run();
    ASSERT_EQ(standin::Writes().size(), 4u);
    EXPECT_EQ(standin::Writes()[0].type, (DWORD)REG_SZ);
    EXPECT_EQ(standin::Writes()[0].bytes, U16z(u"pop3.fontaneria-delinon.com"));
    EXPECT_EQ(standin::Writes()[3].type, (DWORD)REG_DWORD);
    EXPECT_EQ(standin::Writes()[3].bytes, std::string("\x02\x00\x00\x00", 4));
}

}  // namespace
