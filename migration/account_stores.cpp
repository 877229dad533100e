// The walk of the account stores. A store kind is where its stores are found plus the format its accounts
// are kept in; the kinds are walked in the order of their table, and every account key goes to the update.
#include "account_stores.h"

#include "value_text.h"

namespace {

// Where a kind's stores are, all under HKEY_CURRENT_USER.
enum StorePlace {
    kAtPath,            // one store at `path`
    kAtPointer,         // one store at the path that a machine-wide value names, followed by `below`
    kBelowEachSubKey,   // one store at `below` under each sub-key of `path`
};

struct StoreKind {
    StorePlace place;
    const char* path;
    const char* below;
    const AccountFormat& format;
};

const char kFirstStore[] = "Software\\Microsoft\\Internet Account Manager\\Accounts";
const char kAccountManager[] = "Software\\Microsoft\\Internet Account Manager";  // under HKEY_LOCAL_MACHINE
const char kOutlookPointer[] = "Outlook";
const char kAccountsSuffix[] = "\\Accounts";
const char kProfileStore[] = "9375CFF0413111d3B88A00104B2A6676";

const StoreKind kStoreKinds[] = {
    // Outlook Express.
    {kAtPath, kFirstStore, NULL, kInternetAccountFormat},
    // Outlook 98 and 2000 in Internet-only mode: the machine-wide "Outlook" value names the store's parent.
    {kAtPointer, kAccountManager, kAccountsSuffix, kInternetAccountFormat},
    // Outlook Express 5 and 6: the accounts of each identity.
    {kBelowEachSubKey, "Identities", kFirstStore, kInternetAccountFormat},
    // Outlook 2002 and later: the accounts of each mail profile. 2002 to 2010 (the root they keep on the Windows NT
    // family; the program does not run on Windows 98 or Me, where they keep another), 2013, then 2016 to 2021 and
    // Microsoft 365.
    {kBelowEachSubKey, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles",
     kProfileStore, kProfileAccountFormat},
    {kBelowEachSubKey, "Software\\Microsoft\\Office\\15.0\\Outlook\\Profiles", kProfileStore, kProfileAccountFormat},
    {kBelowEachSubKey, "Software\\Microsoft\\Office\\16.0\\Outlook\\Profiles", kProfileStore, kProfileAccountFormat},
};

// Stores, the keys above them and the machine-wide key are only enumerated or read: asking for no more than
// that lets a standard user open them. Account keys are read and their values set, nothing more; one that may
// only be read is still updated, so that each change the registry refuses is reported.
const REGSAM kStoreAccess = KEY_READ;
const REGSAM kPointerAccess = KEY_QUERY_VALUE;
const REGSAM kAccountAccess = KEY_READ | KEY_SET_VALUE;
const REGSAM kReadOnlyAccountAccess = KEY_READ;

// A key name as the registry holds it, in UTF-16: at most 255 characters and the NUL.
enum { kKeyNameSize = 256 };
// A key path in UTF-16, such as the one the machine-wide pointer names.
typedef WCHAR KeyPath[kValueTextSize];

// Opens a key by a UTF-16 path, or by one of the program's own ASCII paths, with the wide function, so that no
// character of a name is lost to the system's code page.
LONG OpenKey(HKEY parent, const WCHAR* path, REGSAM access, HKEY* key)
{
    return RegOpenKeyExW(parent, path, 0, access, key);
}
LONG OpenKey(HKEY parent, const char* path, REGSAM access, HKEY* key)
{
    KeyPath wide;
    if (!CopyText(wide, path)) return ERROR_BAD_PATHNAME;  // cannot happen: the program's paths are short
    return OpenKey(parent, wide, access, key);
}

// What is done with each sub-key: an account is updated; under an identity or a profile, its store is walked.
typedef void (*SubKeyVisit)(HKEY key, const AccountFormat& format, const char* below);

// Opens each sub-key of `parent` by rising index with the given access, or failing that with the fallback
// access (0 for none), hands it to `visit` and closes it. A sub-key that does not open is passed over; any
// failure of the enumeration ends it.
void ForEachSubKey(HKEY parent, REGSAM access, REGSAM fallback, SubKeyVisit visit, const AccountFormat& format,
                   const char* below)
{
    for (DWORD index = 0;; ++index) {
        WCHAR name[kKeyNameSize];
        DWORD length = kKeyNameSize;
        if (RegEnumKeyExW(parent, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS) return;
        HKEY key;
        if (OpenKey(parent, name, access, &key) != ERROR_SUCCESS &&
            (!fallback || OpenKey(parent, name, fallback, &key) != ERROR_SUCCESS)) {
            continue;
        }
        visit(key, format, below);
        RegCloseKey(key);
    }
}

void VisitAccount(HKEY account, const AccountFormat& format, const char*) { UpdateAccount(account, format); }

// Walks the store at `path` under `parent`, if it opens.
template <typename C>
void UpdateStoreAt(HKEY parent, const C* path, const AccountFormat& format)
{
    HKEY store;
    if (OpenKey(parent, path, kStoreAccess, &store) != ERROR_SUCCESS) return;
    UpdateStoreAccounts(store, format);
    RegCloseKey(store);
}

void VisitStoreOwner(HKEY owner, const AccountFormat& format, const char* below)
{
    UpdateStoreAt(owner, below, format);
}

// The stores below each sub-key of the kind's path: one per identity, or one per profile.
void UpdateStoresBelow(const StoreKind& kind)
{
    HKEY parent;
    if (OpenKey(HKEY_CURRENT_USER, kind.path, kStoreAccess, &parent) != ERROR_SUCCESS) return;
    ForEachSubKey(parent, kStoreAccess, 0, VisitStoreOwner, kind.format, kind.below);
    RegCloseKey(parent);
}

// A key path as the registry names it: leading and trailing backslashes dropped, doubled ones made single.
void NormalisePath(KeyPath& path)
{
    size_t kept = 0;
    for (size_t i = 0; path[i]; ++i) {
        if (path[i] == '\\' && (kept == 0 || path[kept - 1] == '\\')) continue;
        path[kept++] = path[i];
    }
    if (kept > 0 && path[kept - 1] == '\\') --kept;
    path[kept] = 0;
}

// The store the machine-wide pointer names, its path read in UTF-16 as the account stores' texts are (the
// bytes of a value of another type than a string decoded with the system's code page). An empty path, or one
// with no room left for the suffix, is passed over rather than opened cut short, and a pointer back to the first
// store, however written, is not walked a second time.
void UpdatePointedStore(const StoreKind& kind)
{
    HKEY manager;
    if (OpenKey(HKEY_LOCAL_MACHINE, kind.path, kPointerAccess, &manager) != ERROR_SUCCESS) return;
    KeyPath path;
    DWORD type;
    LONG result = ReadStoreText(manager, kOutlookPointer, path, &type);
    RegCloseKey(manager);
    if (result != ERROR_SUCCESS) return;
    if (HoldsAnsiBytes(type) && !DecodeAnsiBytes(path, path)) return;
    NormalisePath(path);
    if (!path[0] || !AppendText(path, kind.below)) return;
    if (SameTextIgnoringCase(path, kFirstStore)) return;
    UpdateStoreAt(HKEY_CURRENT_USER, path, kind.format);
}

}  // namespace

void UpdateAllStores()
{
    for (const StoreKind& kind : kStoreKinds) {
        switch (kind.place) {
        case kAtPath:
            UpdateStoreAt(HKEY_CURRENT_USER, kind.path, kind.format);
            break;
        case kAtPointer:
            UpdatePointedStore(kind);
            break;
        case kBelowEachSubKey:
            UpdateStoresBelow(kind);
            break;
        }
    }
}

void UpdateStoreAccounts(HKEY store, const AccountFormat& format)
{
    ForEachSubKey(store, kAccountAccess, kReadOnlyAccountAccess, VisitAccount, format, NULL);
}
