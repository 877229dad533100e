// Stand-in registry: two key trees held in memory, with key names in UTF-16 and typed values kept byte for byte
// (strings as UTF-16, as Windows keeps them), access rights checked per handle, Windows' error codes, injected
// faults and a count of the handles opened and closed.
#include <ctype.h>
#include <limits.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <uchar.h>
#include <wctype.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "codepage.h"
#include "journal.h"
#include "standin.h"

namespace standin {
namespace {

// A key name as the registry keeps it: UTF-16.
typedef std::u16string Name;

// C.UTF-8's conversions and case mapping, or null should that locale be missing.
locale_t Unicode()
{
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    return unicode;
}

// Letter case as the registry folds it: a value name's bytes by ASCII, a key name's UTF-16 units by their simple
// Unicode upper case.
char16_t Upper(char unit) { return (char16_t)toupper((unsigned char)unit); }
char16_t Upper(char16_t unit)
{
    if (!Unicode()) return unit < 0x80 ? Upper((char)unit) : unit;
    wint_t upper = towupper_l(unit, Unicode());
    return upper <= 0xFFFF ? (char16_t)upper : unit;
}

// Names compare without regard to letter case, in the order of their upper-case forms, as the registry sorts
// sub-keys: "[\\]^_" come after the letters.
template <typename S>
struct CaseLess {
    bool operator()(const S& a, const S& b) const
    {
        size_t n = a.size() < b.size() ? a.size() : b.size();
        for (size_t i = 0; i < n; ++i) {
            char16_t x = Upper(a[i]), y = Upper(b[i]);
            if (x != y) return x < y;
        }
        return a.size() < b.size();
    }
};

template <typename S>
bool SameName(const S& a, const S& b) { return !CaseLess<S>()(a, b) && !CaseLess<S>()(b, a); }

// The tests write key paths in UTF-8; a byte that starts no UTF-8 character stands for the Latin-1 character of
// its value.
Name FromUtf8(const std::string& text)
{
    locale_t previous = uselocale(Unicode());
    Name name;
    mbstate_t state{};
    for (size_t i = 0; i < text.size() || !mbsinit(&state);) {
        char16_t unit;
        size_t used = mbrtoc16(&unit, text.data() + i, text.size() - i, &state);
        if (used == (size_t)-3) used = 0;  // the second half of a surrogate pair, from the bytes already taken
        else if (used == 0 || used > text.size() - i) unit = (unsigned char)text[i], used = 1, state = mbstate_t{};
        name += unit;
        i += used;
    }
    uselocale(previous);
    return name;
}
std::string ToUtf8(const Name& name)
{
    locale_t previous = uselocale(Unicode());
    std::string text;
    mbstate_t state{};
    char bytes[MB_LEN_MAX];
    for (char16_t unit : name) {
        size_t length = c16rtomb(bytes, unit, &state);
        if (length != (size_t)-1) text.append(bytes, length);
    }
    uselocale(previous);
    return text;
}

// Two key paths of the tests: the same key, letter case aside.
bool SamePath(const std::string& a, const std::string& b) { return SameName(FromUtf8(a), FromUtf8(b)); }

struct StoredData {
    std::string name;  // as first written
    DWORD type;
    std::string bytes;  // as stored: UTF-16 for the string types
};

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// What an A function hands in or back for a value: strings go through the ANSI code page, the rest as bytes.
std::string StoredFromAnsi(DWORD type, const std::string& bytes)
{
    return IsStringType(type) ? AnsiToWide(bytes) : bytes;
}
std::string AnsiFromStored(DWORD type, const std::string& bytes)
{
    return IsStringType(type) ? WideToAnsi(bytes) : bytes;
}

// A value name given to a W function.
std::string NameOf(LPCWSTR name)
{
    size_t length = 0;
    while (name && name[length]) ++length;
    return UnitsToAnsi(name, length, AnsiCodePage());
}

struct Node {
    std::string path;  // canonical, in UTF-8, e.g. "HKCU\\Software\\X"
    std::map<Name, std::unique_ptr<Node>, CaseLess<Name>> children;
    std::map<std::string, StoredData, CaseLess<std::string>> values;
    Node* parent = nullptr;
    bool granted = false;
    REGSAM grant = 0;
};

struct Handle {
    Node* node;
    REGSAM access;
    bool open;
};

enum FaultOp { kOpen, kEnum, kQuery, kSet };

struct Fault {
    FaultOp op;
    std::string keyPath;
    std::string item;  // value name, or the index for an enumeration
    LONG error;
    int times;
};

const REGSAM kSpecificRights = 0x003F;       // KEY_QUERY_VALUE .. KEY_CREATE_LINK
const REGSAM kStandardRights = 0x001F0000;  // DELETE .. SYNCHRONIZE
const REGSAM kKnownRights = kSpecificRights | kStandardRights | KEY_WOW64_64KEY | KEY_WOW64_32KEY;

Node g_hkcu, g_hklm;
std::vector<std::unique_ptr<Handle>> g_handles;
std::vector<Fault> g_faults;
std::vector<Write> g_writes;
std::vector<std::string> g_calls;
std::vector<std::string> g_problems;

std::string Hex(DWORD v)
{
    char text[16];
    snprintf(text, sizeof text, "0x%x", (unsigned)v);
    return text;
}

void ResetTree(Node& root, const char* name)
{
    root.children.clear();
    root.values.clear();
    root.path = name;
    root.granted = false;
    root.grant = 0;
}

// Splits "HKCU\\a\\b" into its root node and the rest; nullptr for an unknown root.
Node* RootOf(const std::string& keyPath, std::string* rest)
{
    size_t slash = keyPath.find('\\');
    std::string root = keyPath.substr(0, slash);
    *rest = slash == std::string::npos ? std::string() : keyPath.substr(slash + 1);
    if (SameName<std::string>(root, "HKCU") || SameName<std::string>(root, "HKEY_CURRENT_USER")) return &g_hkcu;
    if (SameName<std::string>(root, "HKLM") || SameName<std::string>(root, "HKEY_LOCAL_MACHINE")) return &g_hklm;
    return nullptr;
}

std::vector<Name> SplitPath(const Name& path)
{
    std::vector<Name> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == Name::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

Node* Find(Node* from, const Name& relative)
{
    for (const Name& part : SplitPath(relative)) {
        auto it = from->children.find(part);
        if (it == from->children.end()) return nullptr;
        from = it->second.get();
    }
    return from;
}

Node* Create(Node* from, const Name& relative)
{
    for (const Name& part : SplitPath(relative)) {
        if (part.size() > 255) LogProblem("a key name of more than 255 characters: " + ToUtf8(part));
        auto& slot = from->children[part];
        if (!slot) {
            slot.reset(new Node);
            slot->path = from->path + "\\" + ToUtf8(part);
            slot->parent = from;
        }
        from = slot.get();
    }
    return from;
}

Node* FindPath(const char* keyPath)
{
    std::string rest;
    Node* root = RootOf(keyPath, &rest);
    return root ? Find(root, FromUtf8(rest)) : nullptr;
}

Node* CreatePath(const char* keyPath)
{
    std::string rest;
    Node* root = RootOf(keyPath, &rest);
    if (!root) {
        LogProblem(std::string("test names an unknown root: ") + keyPath);
        return nullptr;
    }
    return Create(root, FromUtf8(rest));
}

// The canonical form of a path given by a test, for matching faults against the keys the program touches.
std::string Canonical(const char* keyPath)
{
    std::string rest;
    Node* root = RootOf(keyPath, &rest);
    std::string path = root ? root->path : std::string(keyPath);
    for (const Name& part : SplitPath(FromUtf8(rest))) path += "\\" + ToUtf8(part);
    return path;
}

REGSAM AllowedOn(const Node* node)
{
    for (; node; node = node->parent)
        if (node->granted) return node->grant;
    return kSpecificRights | kStandardRights;
}

// The stand-in's record of a key this program opened and has not closed yet; null for anything else.
Handle* OpenHandle(HKEY key)
{
    for (const auto& handle : g_handles)
        if ((HKEY)handle.get() == key) return handle->open ? handle.get() : nullptr;
    return nullptr;
}

// Resolves a key argument: a predefined root or an open handle of ours. Null for anything else.
Node* Resolve(HKEY key, REGSAM* access, const char* call)
{
    if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) {
        *access = kSpecificRights | kStandardRights;
        return key == HKEY_CURRENT_USER ? &g_hkcu : &g_hklm;
    }
    if (Handle* handle = OpenHandle(key)) {
        *access = handle->access;
        return handle->node;
    }
    LogProblem(std::string(call) + " on a key that is not open");
    return nullptr;
}

// Returns the injected error for this operation, or 0.
LONG TakeFault(FaultOp op, const std::string& keyPath, const std::string& item)
{
    for (Fault& fault : g_faults) {
        if (fault.op != op || fault.times == 0 || !SamePath(fault.keyPath, keyPath)) continue;
        if (op != kOpen && !(op == kEnum ? fault.item == item : SameName(fault.item, item))) continue;
        if (fault.times > 0) --fault.times;
        return fault.error;
    }
    return 0;
}

void AddFault(FaultOp op, const char* keyPath, const std::string& item, LONG error, int times)
{
    g_faults.push_back(Fault{op, Canonical(keyPath), item, error, times});
}

void DumpNode(const Node& node, std::string* out)
{
    *out += "[" + node.path + "]\n";
    for (const auto& entry : node.values) {
        char line[32];
        snprintf(line, sizeof line, " type %u:", (unsigned)entry.second.type);
        *out += "\"" + entry.second.name + "\"" + line;
        for (unsigned char byte : entry.second.bytes) {
            snprintf(line, sizeof line, " %02x", byte);
            *out += line;
        }
        *out += "\n";
    }
    for (const auto& child : node.children) DumpNode(*child.second, out);
}

LONG Logged(const std::string& what, LONG result)
{
    g_calls.push_back(what + " -> " + std::to_string(result));
    return result;
}

}  // namespace

void LogCall(const std::string& line) { g_calls.push_back(line); }
void LogProblem(const std::string& line) { g_problems.push_back(line); }

void Reset()
{
    ResetTree(g_hkcu, "HKCU");
    ResetTree(g_hklm, "HKLM");
    g_handles.clear();
    g_faults.clear();
    g_writes.clear();
    g_calls.clear();
    g_problems.clear();
    UseAnsiCodePage(1252);
    ResetDialogs();
}

void CreateKey(const char* keyPath) { CreatePath(keyPath); }

void SetAnsiCodePage(UINT page)
{
    if (!KnownCodePage(page)) {
        LogProblem("the stand-in has no code page " + std::to_string(page));
        return;
    }
    UseAnsiCodePage(page);
}

void SetValueW(const char* keyPath, const char* name, DWORD type, const void* data, size_t size)
{
    Node* node = CreatePath(keyPath);
    if (!node) return;
    StoredData& value = node->values[name];
    if (value.name.empty()) value.name = name;
    value.type = type;
    value.bytes.assign((const char*)data, size);
}

void SetValue(const char* keyPath, const char* name, DWORD type, const void* data, size_t size)
{
    std::string stored = StoredFromAnsi(type, std::string((const char*)data, size));
    SetValueW(keyPath, name, type, stored.data(), stored.size());
}

void SetString(const char* keyPath, const char* name, const char* text)
{
    SetValue(keyPath, name, REG_SZ, text, strlen(text) + 1);
}

void SetDword(const char* keyPath, const char* name, DWORD value)
{
    const unsigned char bytes[4] = {(unsigned char)value, (unsigned char)(value >> 8), (unsigned char)(value >> 16),
                                    (unsigned char)(value >> 24)};
    SetValue(keyPath, name, REG_DWORD, bytes, 4);
}

StoredValue GetValue(const char* keyPath, const char* name)
{
    Node* node = FindPath(keyPath);
    if (!node) return StoredValue{false, 0, "", ""};
    auto it = node->values.find(name);
    if (it == node->values.end()) return StoredValue{false, 0, "", ""};
    const StoredData& value = it->second;
    return StoredValue{true, value.type, AnsiFromStored(value.type, value.bytes), value.bytes};
}

bool KeyExists(const char* keyPath) { return FindPath(keyPath) != nullptr; }

std::string Dump(const char* keyPath)
{
    Node* node = FindPath(keyPath);
    std::string out;
    if (node) DumpNode(*node, &out);
    return out;
}

void Grant(const char* keyPath, REGSAM allowed)
{
    Node* node = CreatePath(keyPath);
    if (!node) return;
    node->granted = true;
    node->grant = allowed & (kSpecificRights | kStandardRights);
}

void FailOpen(const char* keyPath, LONG error, int times) { AddFault(kOpen, keyPath, "", error, times); }
void FailEnum(const char* keyPath, DWORD index, LONG error, int times)
{
    AddFault(kEnum, keyPath, std::to_string(index), error, times);
}
void FailQuery(const char* keyPath, const char* name, LONG error, int times)
{
    AddFault(kQuery, keyPath, name, error, times);
}
void FailSet(const char* keyPath, const char* name, LONG error, int times) { AddFault(kSet, keyPath, name, error, times); }

int HandlesOpened() { return (int)g_handles.size(); }

int HandlesOpen()
{
    int open = 0;
    for (const auto& handle : g_handles) open += handle->open;
    return open;
}

const std::vector<Write>& Writes() { return g_writes; }
const std::vector<std::string>& Calls() { return g_calls; }
const std::vector<std::string>& Problems() { return g_problems; }

}  // namespace standin

using namespace standin;

namespace {

// RegOpenKeyExA and W: the A function's path is converted from the ANSI code page, the W function's kept.
LONG OpenKey(HKEY hKey, const Name& sub, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult, const char* call)
{
    if (!phkResult) {
        LogProblem(std::string(call) + " without a result pointer");
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    REGSAM parentAccess;
    Node* parent = Resolve(hKey, &parentAccess, call);
    std::string what = "open " + (parent ? parent->path : std::string("?")) + (sub.empty() ? "" : "\\" + ToUtf8(sub)) +
                       " " + Hex(samDesired);
    if (!parent) return Logged(what, ERROR_INVALID_HANDLE);
    if (ulOptions != 0) {
        LogProblem(std::string(call) + " with options " + Hex(ulOptions));
        return Logged(what, ERROR_INVALID_PARAMETER);
    }
    if (samDesired & ~kKnownRights) LogProblem(std::string(call) + " asks for unknown rights " + Hex(samDesired));
    if (!sub.empty() && sub[0] == u'\\') return Logged(what, ERROR_BAD_PATHNAME);

    std::string target = parent->path;
    for (const Name& part : SplitPath(sub)) target += "\\" + ToUtf8(part);
    if (LONG fault = TakeFault(kOpen, target, "")) return Logged(what, fault);

    Node* node = Find(parent, sub);
    if (!node) return Logged(what, ERROR_FILE_NOT_FOUND);
    REGSAM wanted = samDesired & (kSpecificRights | kStandardRights);
    if (wanted & ~AllowedOn(node)) return Logged(what, ERROR_ACCESS_DENIED);

    g_handles.emplace_back(new Handle{node, wanted, true});
    *phkResult = (HKEY)g_handles.back().get();
    return Logged(what, ERROR_SUCCESS);
}

// A key name as an A function hands it back, through the ANSI code page ("?" for a character it lacks), or as
// a W function does.
std::string NameFor(const Name& name, char*) { return UnitsToAnsi(name.data(), name.size(), AnsiCodePage()); }
Name NameFor(const Name& name, char16_t*) { return name; }

// RegEnumKeyExA and W; lengths count characters of the function's own kind, the NUL included on the way in.
template <typename C>
LONG EnumKey(HKEY hKey, DWORD dwIndex, C* lpName, LPDWORD lpcchName, LPDWORD lpReserved, C* lpClass,
             LPDWORD lpcchClass, LPFILETIME lpftLastWriteTime, const char* call)
{
    std::string what = "enum " + std::to_string(dwIndex);
    REGSAM access;
    Node* node = Resolve(hKey, &access, call);
    if (!node) return Logged(what, ERROR_INVALID_HANDLE);
    if (!lpName || !lpcchName || lpReserved || (lpClass && !lpcchClass)) {
        LogProblem(std::string(call) + " with bad parameters");
        return Logged(what, ERROR_INVALID_PARAMETER);
    }
    if (!(access & KEY_ENUMERATE_SUB_KEYS)) return Logged(what, ERROR_ACCESS_DENIED);
    if (LONG fault = TakeFault(kEnum, node->path, std::to_string(dwIndex))) return Logged(what, fault);
    if (dwIndex >= node->children.size()) return Logged(what, ERROR_NO_MORE_ITEMS);

    auto it = node->children.begin();
    for (DWORD i = 0; i < dwIndex; ++i) ++it;
    const auto name = NameFor(it->first, lpName);
    if (name.size() + 1 > *lpcchName) return Logged(what, ERROR_MORE_DATA);
    std::copy(name.c_str(), name.c_str() + name.size() + 1, lpName);
    *lpcchName = (DWORD)name.size();
    if (lpClass) {
        if (*lpcchClass > 0) lpClass[0] = 0;
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
    return Logged(what, ERROR_SUCCESS);
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    return OpenKey(hKey, AnsiToUnits(lpSubKey ? lpSubKey : ""), ulOptions, samDesired, phkResult, "RegOpenKeyExA");
}

LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    return OpenKey(hKey, lpSubKey ? Name(lpSubKey) : Name(), ulOptions, samDesired, phkResult, "RegOpenKeyExW");
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPSTR lpClass, LPDWORD lpcchClass, LPFILETIME lpftLastWriteTime)
{
    return EnumKey(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime,
                   "RegEnumKeyExA");
}

LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPWSTR lpClass, LPDWORD lpcchClass, LPFILETIME lpftLastWriteTime)
{
    return EnumKey(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime,
                   "RegEnumKeyExW");
}

namespace {

// RegQueryValueExA and W: the A function hands strings back in the ANSI code page, the W function as stored.
LONG QueryValue(HKEY hKey, const std::string& name, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                LPDWORD lpcbData, bool wide)
{
    const char* call = wide ? "RegQueryValueExW" : "RegQueryValueExA";
    std::string what = (wide ? "queryW " : "query ") + name;
    REGSAM access;
    Node* node = Resolve(hKey, &access, call);
    if (!node) return Logged(what, ERROR_INVALID_HANDLE);
    if (lpReserved || (lpData && !lpcbData)) {
        LogProblem(std::string(call) + " with bad parameters");
        return Logged(what, ERROR_INVALID_PARAMETER);
    }
    if (!(access & KEY_QUERY_VALUE)) return Logged(what, ERROR_ACCESS_DENIED);
    if (LONG fault = TakeFault(kQuery, node->path, name)) return Logged(what, fault);
    auto it = node->values.find(name);
    if (it == node->values.end()) return Logged(what, ERROR_FILE_NOT_FOUND);

    const StoredData& value = it->second;
    std::string bytes = wide ? value.bytes : AnsiFromStored(value.type, value.bytes);
    DWORD size = (DWORD)bytes.size();
    if (lpType) *lpType = value.type;
    if (lpData && size > *lpcbData) {
        *lpcbData = size;  // the buffer itself is left as it was
        return Logged(what, ERROR_MORE_DATA);
    }
    if (lpData) {
        memcpy(lpData, bytes.data(), size);
        // String data that does not end in a NUL gets one after it, uncounted, when the buffer has room.
        const size_t unit = wide ? 2 : 1;
        if (IsStringType(value.type) && size >= unit && size + unit <= *lpcbData &&
            bytes.compare(size - unit, unit, std::string(unit, '\0')) != 0) {
            memset(lpData + size, 0, unit);
        }
    }
    if (lpcbData) *lpcbData = size;
    return Logged(what, ERROR_SUCCESS);
}

// RegSetValueExA and W: the A function's strings are converted from the ANSI code page, the W function's kept.
LONG SetValueData(HKEY hKey, const std::string& name, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                  DWORD cbData, bool wide)
{
    const char* call = wide ? "RegSetValueExW" : "RegSetValueExA";
    std::string what = (wide ? "setW " : "set ") + name;
    REGSAM access;
    Node* node = Resolve(hKey, &access, call);
    if (!node) return Logged(what, ERROR_INVALID_HANDLE);
    if (Reserved || (!lpData && cbData)) {
        LogProblem(std::string(call) + " with bad parameters");
        return Logged(what, ERROR_INVALID_PARAMETER);
    }
    if (!(access & KEY_SET_VALUE)) return Logged(what, ERROR_ACCESS_DENIED);
    if (LONG fault = TakeFault(kSet, node->path, name)) return Logged(what, fault);

    std::string given((const char*)lpData, cbData);
    StoredData& value = node->values[name];
    if (value.name.empty()) value.name = name;
    value.type = dwType;
    value.bytes = wide ? given : StoredFromAnsi(dwType, given);
    g_writes.push_back(Write{node->path, name, dwType, given, wide});
    return Logged(what, ERROR_SUCCESS);
}

}  // namespace

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData)
{
    return QueryValue(hKey, lpValueName ? lpValueName : "", lpReserved, lpType, lpData, lpcbData, false);
}

LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData)
{
    return QueryValue(hKey, NameOf(lpValueName), lpReserved, lpType, lpData, lpcbData, true);
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData)
{
    return SetValueData(hKey, lpValueName ? lpValueName : "", Reserved, dwType, lpData, cbData, false);
}

LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData)
{
    return SetValueData(hKey, NameOf(lpValueName), Reserved, dwType, lpData, cbData, true);
}

LONG WINAPI RegCloseKey(HKEY hKey)
{
    if (hKey == HKEY_CURRENT_USER || hKey == HKEY_LOCAL_MACHINE) return Logged("close root", ERROR_SUCCESS);
    if (Handle* handle = OpenHandle(hKey)) {
        handle->open = false;
        return Logged("close " + handle->node->path, ERROR_SUCCESS);
    }
    LogProblem("RegCloseKey on a key that is not open");
    return Logged("close ?", ERROR_INVALID_HANDLE);
}
