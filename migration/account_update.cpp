// The update of one mail account of an account store: reads its values, decides whether its domain is
// hosted and, if so, rewrites it value by value, reporting each refused change and then the account.
#include "account_update.h"

#include <string.h>

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

const char kErrorPop3Server[] = "Error configurando POP3";
const char kErrorReadUserName[] = "Error leyendo el nombre de cuenta";
const char kErrorWriteUserName[] = "Error escribiendo el nombre de cuenta";
const char kErrorSmtpServer[] = "Error configurando SMTP Server";
const char kErrorSmtpAuth[] = "Error configurando autenticaci\xF3n SMTP";

// Room for any account text in the ANSI code page, even one of up to three bytes a character.
typedef char DisplayText[3 * kValueTextSize];

// Reads one text value of the account in its format. `type` receives the type to write it back with.
LONG ReadAccountText(HKEY account, const AccountFormat& format, const char* name, AccountText& text, DWORD* type)
{
    if (format.wideText) return ReadWideText(account, name, text, type);
    *type = REG_SZ;
    ValueText ansi;
    LONG result = ReadValueText(account, name, ansi);
    CopyText(text, ansi);  // always fits: one unit per byte
    return result;
}

// An ANSI account's text back as its bytes, NUL included: each unit is one byte widened.
void Narrow(const AccountText& text, char* bytes)
{
    size_t length = TextLength(text);
    for (size_t i = 0; i <= length; ++i) bytes[i] = (char)text[i];
}

LONG WriteAccountText(HKEY account, const AccountFormat& format, const char* name, DWORD type,
                      const AccountText& text)
{
    if (format.wideText) return WriteWideText(account, name, type, text);
    ValueText ansi;
    Narrow(text, ansi);
    return WriteValueText(account, name, ansi);
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

// Composes prefix + domain and writes it with the type it was read with; reports the caption if it does not
// fit or the write fails.
void WriteServerName(HKEY account, const AccountFormat& format, const char* name, DWORD type, const char* prefix,
                     const AccountText& domain, const char* errorCaption, AccountText& server)
{
    LONG result = ERROR_INSUFFICIENT_BUFFER;
    if (CopyText(server, prefix) && AppendText(server, domain)) {
        result = WriteAccountText(account, format, name, type, server);
    }
    if (result != ERROR_SUCCESS) ReportError(errorCaption, result);
}

// Extends the user name by "." and the domain, unless an earlier run already did.
void WriteUserName(HKEY account, const AccountFormat& format, DWORD type, const AccountText& domain,
                   AccountText& userName)
{
    AccountText suffix;
    CopyText(suffix, ".");
    AppendText(suffix, domain);  // always fits: a domain has at most 258 units
    if (EndsWithIgnoringCase(userName, suffix)) return;
    LONG result = ERROR_INSUFFICIENT_BUFFER;  // never written cut short
    if (AppendText(userName, suffix)) result = WriteAccountText(account, format, format.pop3UserName, type, userName);
    if (result != ERROR_SUCCESS) ReportError(kErrorWriteUserName, result);
}

// The account's text as the ANSI code page shows it: an ANSI account's bytes, or a wide text converted.
bool ToDisplay(const AccountFormat& format, const AccountText& text, DisplayText& display)
{
    if (format.wideText) {
        return WideCharToMultiByte(CP_ACP, 0, text, -1, display, sizeof display, NULL, NULL) != 0;
    }
    Narrow(text, display);
    return true;
}

// "Se ha actualizado correctamente la cuenta <label>.", the label cut short with "..." if it is too long.
void ComposeNotice(const char* label, ValueText& notice)
{
    CopyText(notice, kNoticeStart);
    size_t room = sizeof notice - strlen(notice) - strlen(kNoticeEnd) - 1;
    size_t length = strlen(label);
    if (length > room) length = room - strlen(kEllipsis);
    size_t used = strlen(notice);
    memcpy(notice + used, label, length);
    notice[used + length] = '\0';
    if (length < strlen(label)) AppendText(notice, kEllipsis);
    AppendText(notice, kNoticeEnd);
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
    DisplayText label;
    bool named = nameResult == ERROR_SUCCESS && name[0] != 0 && ToDisplay(format, name, label);
    if (!named && !ToDisplay(format, address, label)) label[0] = '\0';
    ValueText notice;
    ComposeNotice(label, notice);
    MessageBoxA(NULL, notice, kNoticeCaption, MB_OK | MB_ICONINFORMATION);
}

void ReportError(const char* caption, LONG error)
{
    ValueText description;
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, (DWORD)error, 0,
                       description, sizeof description, NULL) == 0) {
        // No description from the system: "Error N", N in decimal.
        char digits[16];
        int count = 0;
        DWORD value = (DWORD)error;
        do {
            digits[count++] = (char)('0' + value % 10);
            value /= 10;
        } while (value != 0);
        CopyText(description, "Error ");
        size_t used = strlen(description);
        while (count > 0) description[used++] = digits[--count];
        description[used] = '\0';
    }
    MessageBoxA(NULL, description, caption, MB_OK);
}
