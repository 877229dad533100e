// The walk of the account stores: every place where Outlook Express and Outlook keep their mail accounts.
#pragma once

#include "win_api.h"

#include "account_update.h"

// Finds every account store, in a fixed order, and updates every account in each. Silent throughout.
void UpdateAllStores();

// Updates every account (sub-key) of an open store key, kept in the given format, by rising index, until the
// enumeration stops.
void UpdateStoreAccounts(HKEY store, const AccountFormat& format);
