// The update of one mail account of an account store: reads its values, decides whether its domain is
// hosted and, if so, rewrites it value by value, reporting each refused change and then the account.
#include "account_update.h"

#include <string.h>

#include "hosted_domains.h"
#include "value_text.h"

const char kNoticeCaption[] = "Atenci\xF3n";

namespace {

const char kAccountName[] = "Account Name";
const char kEmailAddress[] = "SMTP Email Address";
const char kPop3Server[] = "POP3 Server";
const char kPop3UserName[] = "POP3 User Name";
const char kSmtpServer[] = "SMTP Server";
const char kSmtpUseSicily[] = "SMTP Use Sicily";

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

// SMTP authentication setting 2, as a REG_DWORD: least significant byte first.
const BYTE kSicilyValue[4] = {2, 0, 0, 0};

// The part of the address after its first at sign, further at signs included; empty without one.
void TakeDomain(const char* address, ValueText& domain)
{
    const char* at = strchr(address, '@');
    CopyText(domain, at ? at + 1 : "");  // always fits: it is part of a value text
}

// Composes prefix + domain and writes it; reports the caption if it does not fit or the write fails.
void WriteServerName(HKEY account, const char* name, const char* prefix, const char* domain,
                     const char* errorCaption, ValueText& server)
{
    LONG result = ERROR_INSUFFICIENT_BUFFER;
    if (CopyText(server, prefix) && AppendText(server, domain)) result = WriteValueText(account, name, server);
    if (result != ERROR_SUCCESS) ReportError(errorCaption, result);
}

// Extends the user name by "." and the domain, unless an earlier run already did.
void WriteUserName(HKEY account, const char* domain, ValueText& userName)
{
    ValueText suffix = ".";
    AppendText(suffix, domain);  // always fits: a domain has at most 258 characters
    if (EndsWithIgnoringCase(userName, suffix)) return;
    LONG result = ERROR_INSUFFICIENT_BUFFER;  // never written cut short
    if (AppendText(userName, suffix)) result = WriteValueText(account, kPop3UserName, userName);
    if (result != ERROR_SUCCESS) ReportError(kErrorWriteUserName, result);
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

void UpdateAccount(HKEY account)
{
    ValueText name, address, domain, server, userName, notice;

    LONG nameResult = ReadValueText(account, kAccountName, name);
    if (ReadValueText(account, kEmailAddress, address) != ERROR_SUCCESS) return;
    TakeDomain(address, domain);
    if (ReadValueText(account, kPop3Server, server) != ERROR_SUCCESS) return;
    if (!IsHostedDomain(domain)) return;

    WriteServerName(account, kPop3Server, kPop3Prefix, domain, kErrorPop3Server, server);
    LONG result = ReadValueText(account, kPop3UserName, userName);
    if (result == ERROR_SUCCESS) {
        WriteUserName(account, domain, userName);
    } else {
        ReportError(kErrorReadUserName, result);
    }

    if (ReadValueText(account, kSmtpServer, server) == ERROR_SUCCESS) {
        WriteServerName(account, kSmtpServer, kSmtpPrefix, domain, kErrorSmtpServer, server);
        result = RegSetValueExA(account, kSmtpUseSicily, 0, REG_DWORD, kSicilyValue, sizeof kSicilyValue);
        if (result != ERROR_SUCCESS) ReportError(kErrorSmtpAuth, result);
    }

    // An account without a readable name is named by its address.
    ComposeNotice(nameResult == ERROR_SUCCESS && name[0] != '\0' ? name : address, notice);
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
