// The update of one mail account of an account store: reads its values, decides whether its domain is
// hosted and, if so, rewrites it value by value, reporting each refused change and then the account.
#include "account_update.h"

#include "hosted_domains.h"
#include "value_text.h"

const char kNoticeCaption[] = "Atenci\xF3n";

const AccountFormat kInternetAccountFormat = {
    false, "Account Name", "SMTP Email Address", "POP3 Server", "POP3 User Name", "SMTP Server",
    {{"SMTP Use Sicily", 2}}, 1,
};

const AccountFormat kProfileAccountFormat = {
    true, "Account Name", "Email", "POP3 Server", "POP3 User", "SMTP Server",
    {{"SMTP Use Auth", 1}, {"SMTP Auth Method", 0}}, 2,  // SMTP_AUTH_SAME_AS_POP
};

namespace {

const char kPop3Prefix[] = "pop3.";
const char kSmtpPrefix[] = "smtp.";

const char kNoticeStart[] = "Se ha actualizado correctamente la cuenta ";
const char kNoticeEnd[] = ".";
const char kEllipsis[] = "...";
const UINT kProgramCodePage = 1252;  // the code page of the program's own texts

const char kErrorPop3Server[] = "Error configurando POP3";
const char kErrorReadUserName[] = "Error leyendo el nombre de cuenta";
const char kErrorWriteUserName[] = "Error escribiendo el nombre de cuenta";
const char kErrorSmtpServer[] = "Error configurando SMTP Server";
const char kErrorSmtpAuth[] = "Error configurando autenticaci\xF3n SMTP";

// A text in a box: the notice's, a label or an error description, as UTF-16 units.
typedef WCHAR BoxText[kValueTextSize];

// Reads one text value of the account in its format. `type` receives the type it was read with.
LONG ReadAccountText(HKEY account, const AccountFormat& format, const char* name, AccountText& text, DWORD* type)
{
    return format.utf16Data ? ReadWideText(account, name, text, type) : ReadStoreText(account, name, text, type);
}

// Whether a text read in this format and type holds ANSI bytes rather than UTF-16.
bool IsAnsiBytes(const AccountFormat& format, DWORD type) { return !format.utf16Data && HoldsAnsiBytes(type); }

// Writes one text value back in the given type: ANSI bytes as bytes, UTF-16 with the wide function.
LONG WriteAccountText(HKEY account, const AccountFormat& format, const char* name, DWORD type,
                      const AccountText& text)
{
    if (IsAnsiBytes(format, type)) return WriteAnsiBytes(account, name, type, text);
    return WriteWideText(account, name, type, text);
}

// The part of the address after its first at sign, further at signs included; empty without one.
void TakeDomain(const AccountText& address, AccountText& domain)
{
    size_t at = 0;
    while (address[at] && address[at] != '@') ++at;
    domain[0] = 0;
    if (address[at]) CopyText(domain, address + at + 1);  // always fits: it is part of an account text
}

// A domain is hosted only if it is all ASCII and, as ASCII, on the list.
bool IsHosted(const AccountText& domain)
{
    ValueText ascii;
    size_t length = TextLength(domain);
    for (size_t i = 0; i <= length; ++i) {
        if (domain[i] >= 0x80) return false;
        ascii[i] = (char)domain[i];
    }
    return IsHostedDomain(ascii) != 0;
}

// Composes prefix + domain and writes it as a registry string, or in a profile with the type it was read with;
// reports the caption if it does not fit or the write fails.
void WriteServerName(HKEY account, const AccountFormat& format, const char* name, DWORD type, const char* prefix,
                     const AccountText& domain, const char* errorCaption, AccountText& server)
{
    LONG result = ERROR_INSUFFICIENT_BUFFER;
    if (CopyText(server, prefix) && AppendText(server, domain)) {
        result = WriteAccountText(account, format, name, format.utf16Data ? type : REG_SZ, server);
    }
    if (result != ERROR_SUCCESS) ReportError(errorCaption, result);
}

// The new login is the mailbox, "." and the domain as the address writes it. A user name that is the address
// itself ("mailbox@domain", the domain in any letter case) gives its mailbox; any other is taken whole as the
// mailbox, unless an earlier run already extended it. An empty mailbox is left as it is.
void WriteUserName(HKEY account, const AccountFormat& format, DWORD type, const AccountText& domain,
                   AccountText& userName)
{
    AccountText suffix;
    CopyText(suffix, "@");
    AppendText(suffix, domain);  // always fits: a domain has at most 258 units
    bool isAddress = EndsWithIgnoringCase(userName, suffix);
    suffix[0] = '.';
    if (isAddress) {
        userName[TextLength(userName) - TextLength(suffix)] = 0;  // the mailbox, before that at sign
    } else if (EndsWithIgnoringCase(userName, suffix)) {
        return;
    }
    if (!userName[0]) return;
    LONG result = ERROR_INSUFFICIENT_BUFFER;  // never written cut short
    if (AppendText(userName, suffix)) result = WriteAccountText(account, format, format.pop3UserName, type, userName);
    if (result != ERROR_SUCCESS) ReportError(kErrorWriteUserName, result);
}

// The account's text as the user reads it: UTF-16 as it is, ANSI bytes decoded with the system's code page.
bool ToDisplay(const AccountFormat& format, DWORD type, const AccountText& text, BoxText& display)
{
    return IsAnsiBytes(format, type) ? DecodeAnsiBytes(text, display) : CopyText(display, text);
}

// A text of the program's own, Windows-1252 bytes, as UTF-16. Should the system lack that code page, each byte
// is taken as the Latin-1 character of its value, which all the program's texts are.
void FromProgramText(const char* text, BoxText& wide)
{
    if (MultiByteToWideChar(kProgramCodePage, 0, text, -1, wide, kValueTextSize) == 0 && !CopyText(wide, text)) {
        wide[0] = 0;  // cannot happen: every text of the program is shorter than a box text
    }
}

// Shows a box of the given text under a caption of the program's own; MessageBoxW's result.
int ShowBox(const WCHAR* text, const char* caption, UINT style)
{
    BoxText wideCaption;
    FromProgramText(caption, wideCaption);
    return MessageBoxW(NULL, text, wideCaption, style);
}

// "Se ha actualizado correctamente la cuenta <label>.", the label cut short with "..." if it is too long; a
// character of two units is never cut in half.
void ComposeNotice(const BoxText& label, BoxText& notice)
{
    BoxText end;
    FromProgramText(kNoticeStart, notice);
    FromProgramText(kNoticeEnd, end);
    size_t used = TextLength(notice), room = kValueTextSize - 1 - used - TextLength(end);
    size_t length = TextLength(label);
    bool cut = length > room;
    if (cut) {
        length = room - (sizeof kEllipsis - 1);
        if (label[length - 1] >= 0xD800 && label[length - 1] <= 0xDBFF) --length;  // a lone high surrogate
    }
    for (size_t i = 0; i < length; ++i) notice[used + i] = label[i];
    notice[used + length] = 0;
    if (cut) AppendText(notice, kEllipsis);
    AppendText(notice, end);
}

}  // namespace

void UpdateAccount(HKEY account, const AccountFormat& format)
{
    AccountText name, address, domain, server, userName;
    DWORD nameType, addressType, serverType, userType;

    LONG nameResult = ReadAccountText(account, format, format.accountName, name, &nameType);
    if (ReadAccountText(account, format, format.address, address, &addressType) != ERROR_SUCCESS) return;
    TakeDomain(address, domain);
    if (ReadAccountText(account, format, format.pop3Server, server, &serverType) != ERROR_SUCCESS) return;
    if (!IsHosted(domain)) return;

    WriteServerName(account, format, format.pop3Server, serverType, kPop3Prefix, domain, kErrorPop3Server, server);
    LONG result = ReadAccountText(account, format, format.pop3UserName, userName, &userType);
    if (result == ERROR_SUCCESS) {
        WriteUserName(account, format, userType, domain, userName);
    } else {
        ReportError(kErrorReadUserName, result);
    }

    if (ReadAccountText(account, format, format.smtpServer, server, &serverType) == ERROR_SUCCESS) {
        WriteServerName(account, format, format.smtpServer, serverType, kSmtpPrefix, domain, kErrorSmtpServer,
                        server);
        for (int i = 0; i < format.smtpAuthCount; ++i) {
            DWORD value = format.smtpAuth[i].value;
            const BYTE bytes[4] = {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24)};
            result = RegSetValueExA(account, format.smtpAuth[i].name, 0, REG_DWORD, bytes, sizeof bytes);
            if (result != ERROR_SUCCESS) ReportError(kErrorSmtpAuth, result);
        }
    }

    // An account without a readable name is named by its address.
    BoxText label;
    bool named = nameResult == ERROR_SUCCESS && name[0] != 0 && ToDisplay(format, nameType, name, label);
    if (!named && !ToDisplay(format, addressType, address, label)) label[0] = 0;
    BoxText notice;
    ComposeNotice(label, notice);
    ShowBox(notice, kNoticeCaption, MB_OK | MB_ICONINFORMATION);
}

void ReportError(const char* caption, LONG error)
{
    BoxText description;
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)error, 0,
                       description, kValueTextSize, NULL) == 0) {
        // No description from the system: "Error N", N in decimal.
        char digits[16];
        int count = 0;
        DWORD value = (DWORD)error;
        do {
            digits[count++] = (char)('0' + value % 10);
            value /= 10;
        } while (value != 0);
        CopyText(description, "Error ");
        size_t used = TextLength(description);
        while (count > 0) description[used++] = (WCHAR)digits[--count];
        description[used] = 0;
    }
    ShowBox(description, caption, MB_OK);
}

int ShowMessage(const char* text, const char* caption, UINT style)
{
    BoxText wideText;
    FromProgramText(text, wideText);
    return ShowBox(wideText, caption, style);
}
