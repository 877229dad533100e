// The update of one mail account: points a hosted account at its domain's own POP3 and SMTP servers.
#pragma once

#include "win_api.h"

// The caption of the question, of every update notice and of the closing notice: "Atención".
extern const char kNoticeCaption[];

// A DWORD value that the sending side's rewrite sets.
struct DwordSetting {
    const char* name;
    DWORD value;
};

// How a mail client keeps an account: the names of its values and how their text is stored. Every text is read
// and written with the wide functions, so that no character is lost to the system's code page.
struct AccountFormat {
    // false: registry strings (REG_SZ or REG_EXPAND_SZ, any other type's data taken as ANSI bytes); the user
    // name keeps its type and the server names are written as REG_SZ.
    // true: UTF-16 text as REG_BINARY or REG_SZ, each value keeping its type.
    bool utf16Data;
    const char* accountName;   // shown in the notice
    const char* address;       // the e-mail address, source of the domain
    const char* pop3Server;
    const char* pop3UserName;
    const char* smtpServer;
    DwordSetting smtpAuth[2];  // written in order after "SMTP Server": "same settings as the incoming server"
    int smtpAuthCount;
};

// Outlook Express, and Outlook 98 and 2000 in Internet-only mode: registry strings, "SMTP Use Sicily" = 2.
extern const AccountFormat kInternetAccountFormat;
// Outlook 2002 and later, in a mail profile: UTF-16 text, "SMTP Use Auth" = 1 and "SMTP Auth Method" = 0.
extern const AccountFormat kProfileAccountFormat;

// Reads the account's values and, if its address's domain is hosted, rewrites its servers, user name and
// SMTP authentication setting, reports each refused change and ends with the update notice. The key must be
// open for reading; a key that may not be written to has each change refused and reported. It stays open for the
// caller to close.
void UpdateAccount(HKEY account, const AccountFormat& format);

// Shows an error box: the Spanish caption over the system's description of the error code.
void ReportError(const char* caption, LONG error);

// Shows a message box of the program's own text and caption. They are kept as Windows-1252 bytes and shown
// as such whatever the system's code page. Returns MessageBoxW's result.
int ShowMessage(const char* text, const char* caption, UINT style);
