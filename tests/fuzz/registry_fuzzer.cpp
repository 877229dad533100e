// libFuzzer target: builds a random registry in the stand-in from the input (the Outlook Express store, the
// pointer and its store, identities, Outlook profiles, a leftover of Windows 98; random accounts and key names,
// value types and lengths, injected failures, either code page), runs the whole program twice answering Yes,
// and checks the rules every run must keep. A broken rule prints what broke and aborts.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "hosted_domains.h"
#include "standin.h"
#include "win_main.h"

namespace {

const std::string kFirstStore = "HKCU\\Software\\Microsoft\\Internet Account Manager\\Accounts";
const std::string kManager = "HKLM\\Software\\Microsoft\\Internet Account Manager";
const std::string kOutlookPath = "Software\\Microsoft\\Office\\Outlook\\OMI Account Manager";
const std::string kIdentities = "HKCU\\Identities";
const std::string kIdentityStore = "Software\\Microsoft\\Internet Account Manager\\Accounts";
const std::string kProfileStore = "9375CFF0413111d3B88A00104B2A6676";
const char* const kProfileRoots[] = {
    "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles",
    "HKCU\\Software\\Microsoft\\Office\\15.0\\Outlook\\Profiles",
    "HKCU\\Software\\Microsoft\\Office\\16.0\\Outlook\\Profiles",
};
// Where Outlook kept its profiles on Windows 98 and Me, which the program does not run on: never walked.
const char kLeftoverRoot[] = "HKCU\\Software\\Microsoft\\Windows Messaging Subsystem\\Profiles";
const std::string kCaption = "Atenci\xF3n";
const std::string kNoticeStart = "Se ha actualizado correctamente la cuenta ";

// The value names of each account format, in the order: name, address, POP3 server, POP3 user, SMTP server,
// then the sending side's DWORDs.
struct Format {
    bool wide;
    std::vector<const char*> names;
    std::vector<std::pair<const char*, DWORD>> auth;
};
const Format kAnsi = {false, {"Account Name", "SMTP Email Address", "POP3 Server", "POP3 User Name", "SMTP Server",
                              "SMTP Use Sicily"}, {{"SMTP Use Sicily", 2}}};
const Format kProfile = {true, {"Account Name", "Email", "POP3 Server", "POP3 User", "SMTP Server", "SMTP Use Auth",
                                "SMTP Auth Method"}, {{"SMTP Use Auth", 1}, {"SMTP Auth Method", 0}}};
const char* const kValueNames[] = {"Account Name", "SMTP Email Address", "Email", "POP3 Server", "POP3 User Name",
                                   "POP3 User", "SMTP Server", "SMTP Use Sicily", "SMTP Use Auth", "SMTP Auth Method"};
const char* const kErrorCaptions[] = {"Error configurando POP3", "Error leyendo el nombre de cuenta",
                                      "Error escribiendo el nombre de cuenta", "Error configurando SMTP Server",
                                      "Error configurando autenticaci\xF3n SMTP"};
const LONG kErrors[] = {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, 1018 /* key deleted */,
                        ERROR_INVALID_PARAMETER, 1450 /* no system resources */};

[[noreturn]] void Broken(const std::string& rule, const std::string& detail)
{
    fprintf(stderr, "\nBROKEN RULE: %s\n  %s\n", rule.c_str(), detail.c_str());
    for (const std::string& call : standin::Calls()) fprintf(stderr, "    %s\n", call.c_str());
    abort();
}

void Require(bool holds, const std::string& rule, const std::string& detail = "")
{
    if (!holds) Broken(rule, detail);
}

template <typename S>
S Lower(S text)
{
    for (auto& c : text) c = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    return text;
}
template <typename S>
bool EndsWith(const S& text, const S& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}
template <typename S>
bool EndsWith(const S& text, const typename S::value_type* end) { return EndsWith(text, S(end)); }

bool IsListed(const std::string& domain)
{
    for (const char* const* entry = HostedDomains; **entry; ++entry) {
        if (Lower(domain) == Lower(std::string(*entry))) return true;
    }
    return false;
}

// ---- Building the registry ----

// The text with its letter case changed here and there, or not at all.
std::string Recased(FuzzedDataProvider& in, std::string text)
{
    if (in.ConsumeBool()) {
        for (char& c : text) {
            if (in.ConsumeBool()) c = (char)((c >= 'a' && c <= 'z') ? c - 32 : (c >= 'A' && c <= 'Z') ? c + 32 : c);
        }
    }
    return text;
}

std::string HostedEntry(FuzzedDataProvider& in)
{
    size_t count = 0;
    while (*HostedDomains[count]) ++count;
    return Recased(in, HostedDomains[in.ConsumeIntegralInRange<size_t>(0, count - 1)]);
}

std::string Domain(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 8)) {
    case 0: return HostedEntry(in) + ".";
    case 1: return "mail." + HostedEntry(in);
    case 2: { std::string d = HostedEntry(in); d.pop_back(); return d; }
    case 3: return HostedEntry(in) + "x";
    case 4: return " " + HostedEntry(in);
    case 5: return "example.com";
    case 6: return in.ConsumeRandomLengthString(300);
    default: return HostedEntry(in);
    }
}

std::string Text(FuzzedDataProvider& in, size_t maxLength)
{
    switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: return std::string(in.PickValueInArray({216, 217, 245, 258, 259, 260, 261}), 'n');  // around the limits
    case 1: return in.ConsumeRandomLengthString(maxLength);
    case 2: return "";
    default: return in.PickValueInArray({"usuario", "pop.old.net", "smtp.old.net", "Cuenta", "ana.naricantec.es"});
    }
}

std::string Address(FuzzedDataProvider& in)
{
    std::string address = in.ConsumeBool() ? in.ConsumeRandomLengthString(20) : std::string("ana");
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: return address;                                          // no at sign
    case 1: return address + "@" + in.ConsumeRandomLengthString(8) + "@" + Domain(in);  // two at signs
    case 2: return address + "@" + Domain(in) + "@";
    case 3: return std::string(in.ConsumeIntegralInRange<size_t>(230, 250), 'a') + "@" + Domain(in);
    default: return address + "@" + Domain(in);
    }
}

// Stores the text as a value of a random type and form: with its NUL, without it, or with a NUL inside.
void StoreValue(FuzzedDataProvider& in, const std::string& key, const char* name, std::string text)
{
    DWORD type = REG_SZ;
    switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0: type = REG_EXPAND_SZ; break;
    case 1: type = REG_BINARY; break;
    case 2: type = REG_DWORD; text = text.substr(0, 4); break;
    case 3: type = REG_NONE; break;
    case 4: type = REG_MULTI_SZ; break;
    default: break;
    }
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: break;                                  // no terminator
    case 1: text.insert(text.size() / 2, 1, '\0'); text += '\0'; break;
    default: text += '\0';
    }
    standin::SetValue(key.c_str(), name, type, text.data(), text.size());
}

// ---- UTF-16 texts ----

typedef std::u16string Units;  // an account's text: UTF-16 units, or the bytes of an ANSI text widened

Units Widen(const std::string& bytes)
{
    Units units;
    for (unsigned char byte : bytes) units += (char16_t)byte;
    return units;
}
std::string Narrow(const Units& units)  // an ANSI text's bytes back
{
    std::string bytes;
    for (char16_t unit : units) bytes += (char)unit;
    return bytes;
}
std::string Utf16(const Units& units)
{
    std::string bytes;
    for (char16_t unit : units) bytes += std::string{(char)(unit & 0xFF), (char)(unit >> 8)};
    return bytes;
}
Units FromUtf16(const std::string& bytes)
{
    Units units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) units += (char16_t)((unsigned char)bytes[i] | (unsigned char)bytes[i + 1] << 8);
    return units;
}
std::string Show(const Units& units)
{
    std::string text;
    for (char16_t unit : units) {
        char hex[8];
        snprintf(hex, sizeof hex, "\\u%04x", (unsigned)unit);
        text += unit >= 0x20 && unit < 0x7F ? std::string(1, (char)unit) : std::string(hex);
    }
    return text;
}

// A text for a profile: the ANSI choices widened, here and there a character beyond Latin-1 (a letter, a CJK
// character, half a surrogate pair, or a character raised by 0x100, whose low byte is the one it replaces).
Units WideText(FuzzedDataProvider& in, const std::string& ansi)
{
    Units text = Widen(ansi);
    int changes = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < changes && !text.empty(); ++i) {
        char16_t& unit = text[in.ConsumeIntegralInRange<size_t>(0, text.size() - 1)];
        unit = in.ConsumeBool() ? (char16_t)(unit + 0x100)
                                : in.PickValueInArray({u'\u0141', u'\u4E2D', u'\u00ED', (char16_t)0xD83D, u'\u0161'});
    }
    return text;
}

// Stores a profile text as Outlook does (REG_BINARY) or in another type and form: with its NUL character,
// without it, with one inside, or with an odd byte count.
void StoreWideValue(FuzzedDataProvider& in, const std::string& key, const char* name, const Units& text)
{
    DWORD type = REG_BINARY;
    switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0: case 1: type = REG_SZ; break;
    case 2: type = REG_EXPAND_SZ; break;
    case 3: type = REG_DWORD; break;
    default: break;
    }
    std::string bytes = Utf16(text);
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: break;                                          // no NUL character
    case 1: bytes.insert(bytes.size() / 2 & ~(size_t)1, 2, '\0'); bytes += std::string(2, '\0'); break;
    case 2: bytes += std::string(2, '\0'); bytes += 'x'; break;  // odd byte count
    case 3: bytes += '\0'; break;                           // half a NUL character
    default: bytes += std::string(2, '\0');
    }
    if (type == REG_DWORD) bytes = bytes.substr(0, 4);
    standin::SetValueW(key.c_str(), name, type, bytes.data(), bytes.size());
}

// A key name (UTF-8): the number a mail client gives, random ASCII, or a name the code page lacks characters of,
// beside one its ANSI functions would take it for, up to the 255 characters a key name may have.
std::string KeyName(FuzzedDataProvider& in, const std::string& number)
{
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: case 1: case 2: return number;
    case 3: {
        std::string name = in.ConsumeRandomLengthString(12);
        for (char& c : name) c = (c & 0x7F) == '\\' || (c & 0x7F) == 0 ? '_' : (char)(c & 0x7F);
        return name.empty() ? number : name;
    }
    case 4: {
        std::string longest;
        for (int i = 0; i < 255; ++i) longest += "\u0141";
        return longest;
    }
    default:
        return in.PickValueInArray<std::string>({"Correo de \u0141ucja", "Correo de Lucja",
                                                 "\u041F\u043E\u0447\u0442\u0430", "Cuenta \u03A9", "Identidad \u017B",
                                                 "Mar\u00EDa", "\u4E2D \U0001F4E7"}) +
               (in.ConsumeBool() ? number : "");
    }
}

struct Account {
    std::string path;
    const Format* format;
    bool walked;         // in a store the program walks: not the leftover, nor a store the pointer does not name
    std::string before;  // Dump() of the key before the first run
    bool mayChange;      // its address and POP3 server are readable and the domain is listed
    Units domain;
    Units userName;  // text of the POP3 user name before the run, up to its first NUL
    bool smtpReadable;
    bool faulted;    // an injected failure touches it (a key that may only be read does not count: the
                     // program must update and report its account all the same, each refused write in a box)
    bool reachable;  // walked, and no failure is injected into it or a key above it: the walk must visit it
    std::map<std::string, DWORD> types;  // the type of each text value before the run
};

// What the program can read of a stored value, in the account's format, through the wide function. In an
// Outlook Express store: a REG_SZ or REG_EXPAND_SZ string (UTF-16, an odd byte dropped) with a NUL within 260
// units or fewer units; REG_MULTI_SZ never; any other type's bytes as an ANSI text that fits a 260-byte buffer
// with its terminator. In a profile: a REG_BINARY or REG_SZ UTF-16 text of an even byte count with a NUL
// character within 260 units.
bool ReadableText(const std::string& path, bool wide, const char* name, Units* text)
{
    standin::StoredValue value = standin::GetValue(path.c_str(), name);
    if (!value.present) return false;
    if (!wide) {
        if (value.type == REG_MULTI_SZ) return false;
        bool string = value.type == REG_SZ || value.type == REG_EXPAND_SZ;
        if (value.wide.size() > (string ? 520 : 260)) return false;
        Units units = string ? FromUtf16(value.wide) : Widen(value.wide);
        size_t nul = units.find(u'\0');
        if (nul == Units::npos && units.size() == 260) return false;
        *text = units.substr(0, nul);
        return true;
    }
    if ((value.type != REG_BINARY && value.type != REG_SZ) || value.wide.size() > 520 || value.wide.size() % 2) return false;
    Units units = FromUtf16(value.wide);
    size_t nul = units.find(u'\0');
    if (nul == Units::npos) return false;
    *text = units.substr(0, nul);
    return true;
}

// The login a user name becomes: the mailbox (the part before "@" + the domain when the user name is the
// address, letter case aside, or else the whole user name), "." and the domain. None when the mailbox is empty or
// an earlier run already extended the user name.
bool NewLogin(const Units& userName, const Units& domain, Units* login)
{
    Units user = Lower(userName), at = Lower(u"@" + domain), dot = Lower(u"." + domain);
    bool address = EndsWith(user, at);
    if (!address && EndsWith(user, dot)) return false;
    *login = userName.substr(0, userName.size() - (address ? at.size() : 0)) + u"." + domain;
    return login->size() > dot.size();
}

bool IsListed(const Units& domain)
{
    for (char16_t unit : domain)
        if (unit >= 0x80) return false;
    return IsListed(Narrow(domain));
}

void AddAccounts(FuzzedDataProvider& in, const std::string& store, const Format& format, bool walked,
                 std::vector<Account>& accounts)
{
    int count = in.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < count; ++i) {
        std::string key = store + "\\" + KeyName(in, "0000000" + std::to_string(i));
        standin::CreateKey(key.c_str());
        std::string address;
        for (size_t v = 0; v < format.names.size(); ++v) {
            const char* value = format.names[v];
            if (in.ConsumeIntegralInRange(0, 5) == 0) continue;  // missing
            if (v >= 5 && in.ConsumeBool()) {
                standin::SetDword(key.c_str(), value, in.ConsumeIntegral<DWORD>());
                continue;
            }
            std::string text;
            if (v == 1) {
                text = address = Address(in);
            } else if (v == 3 && in.ConsumeBool()) {
                text = Recased(in, address);  // the user name is the address, as mail clients suggest it
            } else {
                text = Text(in, 280);
            }
            // Now and then a value in the other format's way, which the program must not take for its own.
            if (format.wide != (in.ConsumeIntegralInRange(0, 9) == 0)) {
                StoreWideValue(in, key, value, WideText(in, text));
            } else {
                StoreValue(in, key, value, text);
            }
        }
        accounts.push_back({key, &format, walked, "", false, Units(), Units(), false, false, false, {}});
    }
}

// Returns the keys a failure was injected into; keys made read-only are not among them.
std::set<std::string> InjectFaults(FuzzedDataProvider& in, const std::vector<std::string>& keys)
{
    std::set<std::string> faulted;
    int count = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < count && !keys.empty(); ++i) {
        const std::string& key = keys[in.ConsumeIntegralInRange<size_t>(0, keys.size() - 1)];
        LONG error = in.PickValueInArray(kErrors);
        const char* value = in.PickValueInArray(kValueNames);
        // Persistent faults, so that a second run meets the same registry and the same failures.
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: standin::FailOpen(key.c_str(), error); break;
        case 1: standin::FailEnum(key.c_str(), in.ConsumeIntegralInRange<DWORD>(0, 5), error); break;
        case 2: standin::FailQuery(key.c_str(), value, error); break;
        case 3: standin::FailSet(key.c_str(), value, error); break;
        default: standin::Grant(key.c_str(), KEY_READ); continue;
        }
        faulted.insert(key);
    }
    return faulted;
}

// ---- The rules ----

const Account* AccountAt(const std::vector<Account>& accounts, const std::string& path)
{
    for (const Account& account : accounts) {
        if (Lower(account.path) == Lower(path)) return &account;
    }
    return nullptr;
}

void CheckWrites(const std::vector<Account>& accounts)
{
    for (const standin::Write& write : standin::Writes()) {
        std::string where = write.keyPath + " \"" + write.name + "\"";
        const Account* account = AccountAt(accounts, write.keyPath);
        Require(account != nullptr, "values are written to account keys only", where);
        Require(account->mayChange, "only an account with a hosted domain and a readable POP3 Server is written to", where);
        const Format& format = *account->format;
        bool authSetting = false;
        for (const auto& setting : format.auth) {
            if (write.name != setting.first) continue;
            authSetting = true;
            Require(write.type == REG_DWORD && write.bytes == std::string{(char)setting.second, 0, 0, 0},
                    "the authentication settings are their DWORDs", where);
            Require(account->smtpReadable, "the sending side changes only with an SMTP Server", where);
        }
        if (authSetting) continue;

        // Every text is written with the wide function: UTF-16 with one NUL character, or, for an Outlook Express
        // value of another type than a string, an ANSI text's bytes with one NUL.
        Units text;
        auto type = account->types.find(write.name);
        bool kept = type != account->types.end() && write.type == type->second;
        Require(write.wide, "a text is written with the wide function", where);
        if (!format.wide && write.type != REG_SZ && write.type != REG_EXPAND_SZ) {
            Require(!write.bytes.empty() && write.bytes.size() <= 260 && write.bytes.find('\0') == write.bytes.size() - 1,
                    "an ANSI text is written with at most 259 bytes and its one NUL", where);
            text = Widen(write.bytes.substr(0, write.bytes.size() - 1));
        } else {
            Units units = FromUtf16(write.bytes);
            Require(write.bytes.size() % 2 == 0 && units.size() <= 260 && !units.empty() &&
                        units.find(u'\0') == units.size() - 1,
                    "a UTF-16 text has at most 259 characters and its one NUL character", where);
            text = units.substr(0, units.size() - 1);
        }
        if (format.wide || write.name == format.names[3]) {
            Require(kept, "a profile text, and a user name, keep their type", where);
        } else {
            Require(write.type == REG_SZ, "an Outlook Express server name is written as REG_SZ", where);
        }
        const Units& domain = account->domain;
        if (write.name == format.names[2]) {
            Require(text == u"pop3." + domain, "POP3 Server is \"pop3.\" + the domain", where);
        } else if (write.name == format.names[4]) {
            Require(text == u"smtp." + domain, "SMTP Server is \"smtp.\" + the domain", where);
            Require(account->smtpReadable, "the sending side changes only with an SMTP Server", where);
        } else if (write.name == format.names[3]) {
            Units login;
            Require(NewLogin(account->userName, domain, &login) && text == login,
                    "the user name becomes the mailbox + \".\" + the domain", where + ": " + Show(text));
        } else {
            Broken("only the account's settings are written", where);
        }
    }
}

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }
// A box's UTF-16 text as Latin-1, which the program's own texts are, for comparing with them ("?" elsewhere).
std::string Latin1(const std::u16string& text)
{
    std::string bytes;
    for (char16_t unit : text) bytes += unit <= 0xFF ? (char)unit : '?';
    return bytes;
}

// From the call log, from `first` on: the question, then each account's boxes while its key is open (error
// boxes, then its one notice, which every account with an error box or a write has), then the closing notice.
void CheckBoxes(const std::vector<Account>& accounts, size_t firstCall, size_t firstBox)
{
    const std::vector<std::string>& calls = standin::Calls();
    const std::vector<standin::Box>& boxes = standin::Boxes();
    size_t box = firstBox;
    std::string open;     // the account key open now
    std::string refused;  // the account key whose open for setting values was refused last
    bool noticed = false, reported = false;
    std::set<std::string> visited;
    bool changed = false;  // a write to the open account succeeded
    for (size_t i = firstCall; i < calls.size(); ++i) {
        const std::string& call = calls[i];
        if (StartsWith(call, "box ")) {
            Require(box < boxes.size(), "every box is recorded");
            const standin::Box& shown = boxes[box];
            const std::string caption = Latin1(shown.caption), text = Latin1(shown.text);
            Require(shown.owner == nullptr, "boxes have no owner");
            if (box == firstBox) {
                Require(caption == kCaption && shown.style == (MB_YESNO | MB_ICONQUESTION) && open.empty(),
                        "the question comes first");
            } else if (open.empty()) {
                Require(caption == kCaption && text == "Proceso finalizado." &&
                            shown.style == MB_ICONINFORMATION && i + 1 == calls.size(),
                        "outside an account only the closing notice is shown, and last", text);
            } else if (caption == kCaption) {
                Require(!noticed && StartsWith(text, kNoticeStart) && text.back() == '.' &&
                            shown.text.size() <= 259 && shown.style == MB_ICONINFORMATION,
                        "an account has at most one notice", open + ": " + text);
                noticed = true;
            } else {
                bool known = false;
                for (const char* errorCaption : kErrorCaptions) known = known || caption == errorCaption;
                Require(known && shown.style == MB_OK && !noticed,
                        "error boxes have a known caption, no icon, and come before the account's notice",
                        open + ": " + caption);
                reported = true;
            }
            ++box;
        } else if ((StartsWith(call, "open ") && EndsWith(call, " 0x2001b -> 0")) ||
                   (!refused.empty() && call == "open " + refused + " 0x20019 -> 0")) {
            // An account key is opened to read and set values, or, where that is refused, to read only.
            Require(open.empty(), "one account is open at a time", call);
            open = call.substr(5, call.size() - 5 - strlen(" 0x2001b -> 0"));
            refused.clear();
            Require(visited.insert(Lower(open)).second, "a run visits each account once", open);
            noticed = reported = changed = false;
        } else if (StartsWith(call, "open ") && call.find(" 0x2001b -> ") != std::string::npos) {
            // (The last: a key's name may hold the text of a call, as a fuzzed one did.)
            refused = call.substr(5, call.rfind(" 0x2001b -> ") - 5);
        } else if ((StartsWith(call, "set ") || StartsWith(call, "setW ")) && EndsWith(call, " -> 0")) {
            changed = true;
        } else if (!open.empty() && Lower(call) == Lower("close " + open + " -> 0")) {
            const Account* account = AccountAt(accounts, open);
            Require(account != nullptr, "the walk opens account keys only", open);
            Require(noticed || (!reported && !changed), "an account with an error box or a write gets its notice",
                    open);
            Require(noticed == account->mayChange || account->faulted,
                    "a hosted account with readable settings is updated and reported; no other is", open);
            open.clear();
        }
    }
    Require(box == boxes.size() && box > firstBox + 1, "the run ends with the closing notice");
    for (const Account& account : accounts) {
        Require(!account.reachable || visited.count(Lower(account.path)), "the walk visits every account of its stores",
                account.path);
    }
}

void CheckUntouched(const std::vector<Account>& accounts)
{
    for (const Account& account : accounts) {
        if (!account.mayChange) {
            Require(standin::Dump(account.path.c_str()) == account.before,
                    "every other account stays byte-identical", account.path);
        }
    }
}

void RunProgram()
{
    Require(WinMain(nullptr, nullptr, (LPSTR) "", 1 /* SW_SHOWNORMAL */) == 0, "the exit code is 0");
    Require(standin::Problems().empty(), "no misuse of the registry or boxes",
            standin::Problems().empty() ? "" : standin::Problems().front());
    Require(standin::HandlesOpen() == 0, "every key opened is closed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    standin::Reset();
    standin::SetAnsiCodePage(in.ConsumeBool() ? 1251 : 1252);

    std::vector<Account> accounts;
    std::vector<std::string> keys;
    if (in.ConsumeBool()) {
        standin::CreateKey(kFirstStore.c_str());
        keys.push_back(kFirstStore);
        AddAccounts(in, kFirstStore, kAnsi, true, accounts);
    }
    std::string secondStore = "HKCU\\" + kOutlookPath + "\\Accounts";
    switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0: break;  // no machine-wide key
    case 1: standin::CreateKey(kManager.c_str()); break;
    case 2: StoreValue(in, kManager, "Outlook", "SOFTWARE\\microsoft\\Internet Account Manager"); break;
    case 3: StoreValue(in, kManager, "Outlook", std::string(in.ConsumeIntegralInRange<size_t>(245, 262), 'p')); break;
    case 4: StoreValue(in, kManager, "Outlook", in.ConsumeRandomLengthString(40)); break;
    default: StoreValue(in, kManager, "Outlook", kOutlookPath); break;
    }
    Units pointer;
    bool pointed = ReadableText(kManager, false, "Outlook", &pointer) && pointer == Widen(kOutlookPath);
    if (in.ConsumeBool()) {
        standin::CreateKey(secondStore.c_str());
        keys.push_back(secondStore);
        AddAccounts(in, secondStore, kAnsi, pointed, accounts);
    }
    keys.push_back(kManager);

    // Identities, then profiles under each root and the leftover one: an owner key, with or without its store.
    struct Owners {
        std::string parent;
        std::string store;
        const Format* format;
        bool walked;
    };
    std::vector<Owners> places = {{kIdentities, kIdentityStore, &kAnsi, true}};
    for (const char* root : kProfileRoots) places.push_back({root, kProfileStore, &kProfile, true});
    places.push_back({kLeftoverRoot, kProfileStore, &kProfile, false});
    for (const Owners& place : places) {
        if (!in.ConsumeBool()) continue;
        standin::CreateKey(place.parent.c_str());
        keys.push_back(place.parent);
        int owners = in.ConsumeIntegralInRange(0, 3);
        for (int i = 0; i < owners; ++i) {
            std::string guid = "{8F2C4A10-0000-4000-8000-00000000000" + std::to_string(i) + "}";
            std::string owner = place.parent + "\\" + KeyName(in, guid);
            standin::CreateKey(owner.c_str());
            keys.push_back(owner);
            if (in.ConsumeIntegralInRange(0, 4) == 0) continue;  // no store below it
            std::string store = owner + "\\" + place.store;
            standin::CreateKey(store.c_str());
            keys.push_back(store);
            AddAccounts(in, store, *place.format, place.walked, accounts);
        }
    }
    for (const Account& account : accounts) keys.push_back(account.path);
    std::set<std::string> faulted = InjectFaults(in, keys);

    // What each account holds before the runs, and what the program may do with it.
    for (Account& account : accounts) {
        const std::vector<const char*>& names = account.format->names;
        account.before = standin::Dump(account.path.c_str());
        Units address, server, smtp;
        bool wide = account.format->wide;
        if (ReadableText(account.path, wide, names[1], &address) &&
            ReadableText(account.path, wide, names[2], &server) && address.find(u'@') != Units::npos) {
            account.domain = address.substr(address.find(u'@') + 1);
            account.mayChange = account.walked && IsListed(account.domain);
        }
        ReadableText(account.path, wide, names[3], &account.userName);
        account.smtpReadable = ReadableText(account.path, wide, names[4], &smtp);
        for (size_t v = 2; v <= 4; ++v) account.types[names[v]] = standin::GetValue(account.path.c_str(), names[v]).type;
        // A failure injected into the account makes "may change" an upper bound only; one injected into it or
        // into a key above it (the machine-wide key, for the pointer's store) may keep the walk from it.
        account.faulted = faulted.count(account.path) > 0;
        account.reachable = account.walked;
        for (const std::string& key : faulted) {
            bool above = Lower(account.path + "\\").compare(0, key.size() + 1, Lower(key + "\\")) == 0;
            if (above || (key == kManager && StartsWith(account.path, secondStore))) account.reachable = false;
        }
    }

    standin::ScriptAnswers({IDYES, IDYES});
    RunProgram();
    CheckWrites(accounts);
    CheckUntouched(accounts);
    CheckBoxes(accounts, 0, 0);

    // A second run meets the same registry and the same failures: it changes nothing.
    std::string afterFirst = standin::Dump("HKCU") + standin::Dump("HKLM");
    size_t calls = standin::Calls().size(), boxes = standin::Boxes().size();
    RunProgram();
    Require(standin::Dump("HKCU") + standin::Dump("HKLM") == afterFirst, "a second run changes nothing");
    CheckWrites(accounts);
    CheckBoxes(accounts, calls, boxes);
    return 0;
}
