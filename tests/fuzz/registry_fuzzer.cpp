// libFuzzer target: builds a random registry in the stand-in from the input (both stores, the pointer, random
// accounts, value types and lengths, injected failures), runs the whole program twice answering Yes, and
// checks the rules every run must keep. A broken rule prints what broke and aborts.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
const std::string kCaption = "Atenci\xF3n";
const std::string kNoticeStart = "Se ha actualizado correctamente la cuenta ";
const char* const kValueNames[] = {"Account Name", "SMTP Email Address", "POP3 Server",
                                   "POP3 User Name", "SMTP Server", "SMTP Use Sicily"};
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

std::string Lower(std::string text)
{
    for (char& c : text) c = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    return text;
}

bool IsListed(const std::string& domain)
{
    for (const char* const* entry = HostedDomains; **entry; ++entry) {
        if (Lower(domain) == Lower(*entry)) return true;
    }
    return false;
}

// ---- Building the registry ----

std::string HostedEntry(FuzzedDataProvider& in)
{
    size_t count = 0;
    while (*HostedDomains[count]) ++count;
    std::string domain = HostedDomains[in.ConsumeIntegralInRange<size_t>(0, count - 1)];
    if (in.ConsumeBool()) {  // letter case changed here and there
        for (char& c : domain) {
            if (in.ConsumeBool()) c = (char)((c >= 'a' && c <= 'z') ? c - 32 : (c >= 'A' && c <= 'Z') ? c + 32 : c);
        }
    }
    return domain;
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
    default: break;
    }
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: break;                                  // no terminator
    case 1: text.insert(text.size() / 2, 1, '\0'); text += '\0'; break;
    default: text += '\0';
    }
    standin::SetValue(key.c_str(), name, type, text.data(), text.size());
}

struct Account {
    std::string path;
    std::string before;  // Dump() of the key before the first run
    bool mayChange;      // its address and POP3 server are readable and the domain is listed
    std::string domain;
    std::string userName;  // text of "POP3 User Name" before the run, up to its first NUL
    bool smtpReadable;
    bool faulted;  // an injected failure or a refused access touches it
};

// What the program can read of a stored value: its text, if it fits a 260-byte buffer with its terminator.
bool ReadableText(const std::string& key, const char* name, std::string* text)
{
    standin::StoredValue value = standin::GetValue(key.c_str(), name);
    if (!value.present || value.bytes.size() > 260) return false;
    size_t nul = value.bytes.find('\0');
    if (nul == std::string::npos && value.bytes.size() == 260) return false;
    *text = value.bytes.substr(0, nul);
    return true;
}

void AddAccounts(FuzzedDataProvider& in, const std::string& store, std::vector<Account>& accounts)
{
    int count = in.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < count; ++i) {
        std::string name = in.ConsumeBool() ? "0000000" + std::to_string(i) : in.ConsumeRandomLengthString(12);
        if (name.empty() || name.find('\\') != std::string::npos || name.find('\0') != std::string::npos) continue;
        std::string key = store + "\\" + name;
        standin::CreateKey(key.c_str());
        for (const char* value : kValueNames) {
            if (in.ConsumeIntegralInRange(0, 5) == 0) continue;  // missing
            bool address = strcmp(value, "SMTP Email Address") == 0;
            if (strcmp(value, "SMTP Use Sicily") == 0 && in.ConsumeBool()) {
                standin::SetDword(key.c_str(), value, in.ConsumeIntegral<DWORD>());
            } else {
                StoreValue(in, key, value, address ? Address(in) : Text(in, 280));
            }
        }
        accounts.push_back({key, "", false, "", "", false, false});
    }
}

// Returns the keys a failure was injected into.
std::set<std::string> InjectFaults(FuzzedDataProvider& in, const std::vector<std::string>& keys)
{
    std::set<std::string> faulted;
    int count = in.ConsumeIntegralInRange(0, 3);
    for (int i = 0; i < count && !keys.empty(); ++i) {
        const std::string& key = keys[in.ConsumeIntegralInRange<size_t>(0, keys.size() - 1)];
        faulted.insert(key);
        LONG error = in.PickValueInArray(kErrors);
        const char* value = in.PickValueInArray(kValueNames);
        // Persistent faults, so that a second run meets the same registry and the same failures.
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: standin::FailOpen(key.c_str(), error); break;
        case 1: standin::FailEnum(key.c_str(), in.ConsumeIntegralInRange<DWORD>(0, 5), error); break;
        case 2: standin::FailQuery(key.c_str(), value, error); break;
        case 3: standin::FailSet(key.c_str(), value, error); break;
        default: standin::Grant(key.c_str(), KEY_READ); break;
        }
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
        const std::string& domain = account->domain;
        if (write.type == REG_SZ) {
            Require(!write.bytes.empty() && write.bytes.size() <= 260 && write.bytes.back() == '\0' &&
                        write.bytes.find('\0') == write.bytes.size() - 1,
                    "a string is written with at most 259 characters and its one NUL", where);
        }
        std::string text = write.bytes.substr(0, write.bytes.size() - 1);
        if (write.name == "POP3 Server") {
            Require(write.type == REG_SZ && text == "pop3." + domain, "POP3 Server is \"pop3.\" + the domain", where);
        } else if (write.name == "SMTP Server") {
            Require(write.type == REG_SZ && text == "smtp." + domain, "SMTP Server is \"smtp.\" + the domain", where);
            Require(account->smtpReadable, "the sending side changes only with an SMTP Server", where);
        } else if (write.name == "SMTP Use Sicily") {
            Require(write.type == REG_DWORD && write.bytes == std::string("\x02\0\0\0", 4),
                    "SMTP Use Sicily is DWORD 2", where);
            Require(account->smtpReadable, "the sending side changes only with an SMTP Server", where);
        } else if (write.name == "POP3 User Name") {
            Require(write.type == REG_SZ && text == account->userName + "." + domain,
                    "the user name is extended by \".\" + the domain", where + ": " + text);
        } else {
            Broken("only the four settings are written", where);
        }
    }
}

bool StartsWith(const std::string& text, const std::string& start) { return text.compare(0, start.size(), start) == 0; }
bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// From the call log, from `first` on: the question, then each account's boxes while its key is open (error
// boxes, then its one notice, which every account with an error box or a write has), then the closing notice.
void CheckBoxes(const std::vector<Account>& accounts, size_t firstCall, size_t firstBox)
{
    const std::vector<std::string>& calls = standin::Calls();
    const std::vector<standin::Box>& boxes = standin::Boxes();
    size_t box = firstBox;
    std::string open;  // the account key open now
    bool noticed = false, reported = false;
    std::set<std::string> visited;
    bool changed = false;  // a write to the open account succeeded
    for (size_t i = firstCall; i < calls.size(); ++i) {
        const std::string& call = calls[i];
        if (StartsWith(call, "box ")) {
            Require(box < boxes.size(), "every box is recorded");
            const standin::Box& shown = boxes[box];
            Require(shown.owner == nullptr, "boxes have no owner");
            if (box == firstBox) {
                Require(shown.caption == kCaption && shown.style == (MB_YESNO | MB_ICONQUESTION) && open.empty(),
                        "the question comes first");
            } else if (open.empty()) {
                Require(shown.caption == kCaption && shown.text == "Proceso finalizado." &&
                            shown.style == MB_ICONINFORMATION && i + 1 == calls.size(),
                        "outside an account only the closing notice is shown, and last", shown.text);
            } else if (shown.caption == kCaption) {
                Require(!noticed && StartsWith(shown.text, kNoticeStart) && shown.text.back() == '.' &&
                            shown.text.size() <= 259 && shown.style == MB_ICONINFORMATION,
                        "an account has at most one notice", open + ": " + shown.text);
                noticed = true;
            } else {
                bool known = false;
                for (const char* caption : kErrorCaptions) known = known || shown.caption == caption;
                Require(known && shown.style == MB_OK && !noticed,
                        "error boxes have a known caption, no icon, and come before the account's notice",
                        open + ": " + shown.caption);
                reported = true;
            }
            ++box;
        } else if (StartsWith(call, "open ") && EndsWith(call, " 0x2001f -> 0")) {
            Require(open.empty(), "one account is open at a time", call);
            open = call.substr(5, call.size() - 5 - strlen(" 0x2001f -> 0"));
            Require(visited.insert(Lower(open)).second, "a run visits each account once", open);
            noticed = reported = changed = false;
        } else if (StartsWith(call, "set ") && EndsWith(call, " -> 0")) {
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

    std::vector<Account> accounts;
    std::vector<std::string> keys;
    if (in.ConsumeBool()) {
        standin::CreateKey(kFirstStore.c_str());
        keys.push_back(kFirstStore);
        AddAccounts(in, kFirstStore, accounts);
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
    if (in.ConsumeBool()) {
        standin::CreateKey(secondStore.c_str());
        keys.push_back(secondStore);
        AddAccounts(in, secondStore, accounts);
    }
    keys.push_back(kManager);
    for (const Account& account : accounts) keys.push_back(account.path);
    std::set<std::string> faulted = InjectFaults(in, keys);

    // What each account holds before the runs, and what the program may do with it.
    for (Account& account : accounts) {
        account.before = standin::Dump(account.path.c_str());
        std::string address, server, smtp;
        if (ReadableText(account.path, "SMTP Email Address", &address) &&
            ReadableText(account.path, "POP3 Server", &server) && address.find('@') != std::string::npos) {
            account.domain = address.substr(address.find('@') + 1);
            account.mayChange = IsListed(account.domain);
        }
        ReadableText(account.path, "POP3 User Name", &account.userName);
        account.smtpReadable = ReadableText(account.path, "SMTP Server", &smtp);
        // A failure injected into the account makes "may change" an upper bound only.
        account.faulted = faulted.count(account.path) > 0;
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
