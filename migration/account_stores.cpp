// The walk of the account stores: opens the Outlook Express store, then the Outlook store that the
// machine-wide account-manager key points to, and hands every account key to the account update.
#include "account_stores.h"

#include "account_update.h"
#include "value_text.h"

namespace {

const char kFirstStore[] = "Software\\Microsoft\\Internet Account Manager\\Accounts";
const char kAccountManager[] = "Software\\Microsoft\\Internet Account Manager";
const char kOutlookPointer[] = "Outlook";
const char kAccountsSuffix[] = "\\Accounts";

// The stores are only enumerated and the machine-wide key only read: asking for no more than that lets a
// standard user open them. Account keys are read and written.
const REGSAM kStoreAccess = KEY_READ;
const REGSAM kPointerAccess = KEY_QUERY_VALUE;
const REGSAM kAccountAccess = KEY_READ | KEY_WRITE;

void UpdateStoreAt(const char* path)
{
    HKEY store;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, kStoreAccess, &store) != ERROR_SUCCESS) return;
    UpdateStoreAccounts(store);
    RegCloseKey(store);
}

}  // namespace

void UpdateAllStores()
{
    UpdateStoreAt(kFirstStore);

    HKEY manager;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAccountManager, 0, kPointerAccess, &manager) != ERROR_SUCCESS) return;
    ValueText path;
    LONG result = ReadValueText(manager, kOutlookPointer, path);
    RegCloseKey(manager);
    if (result != ERROR_SUCCESS) return;

    // A path with no room left for the suffix is passed over rather than opened cut short, and a pointer
    // back to the first store is not walked a second time.
    if (!AppendText(path, kAccountsSuffix)) return;
    if (SameTextIgnoringCase(path, kFirstStore)) return;
    UpdateStoreAt(path);
}

void UpdateStoreAccounts(HKEY store)
{
    for (DWORD index = 0;; ++index) {
        char name[kValueTextSize];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(store, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) return;
        HKEY account;
        if (RegOpenKeyExA(store, name, 0, kAccountAccess, &account) != ERROR_SUCCESS) continue;
        UpdateAccount(account);
        RegCloseKey(account);
    }
}
