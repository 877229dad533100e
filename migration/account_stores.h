// The walk of the two account stores: the Outlook Express store, then the Outlook store.
#pragma once

#include "win_api.h"

// Finds both account stores, in that order, and updates every account in each. Silent throughout.
void UpdateAllStores();

// Updates every account (sub-key) of an open store key, by rising index, until the enumeration stops.
void UpdateStoreAccounts(HKEY store);
