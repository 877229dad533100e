// The update of one mail account: points a hosted account at its domain's own POP3 and SMTP servers.
#pragma once

#include "win_api.h"

// The caption of the question, of every update notice and of the closing notice: "Atención".
extern const char kNoticeCaption[];

// Reads the account's values and, if its address's domain is hosted, rewrites its servers, user name and
// SMTP authentication setting, reports each refused change and ends with the update notice. The key must be
// open with read and write access; it stays open for the caller to close.
void UpdateAccount(HKEY account);

// Shows an error box: the Spanish caption over the system's description of the error code.
void ReportError(const char* caption, LONG error);
