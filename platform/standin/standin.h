// Test-side control of the in-memory registry and message boxes that stand in for Windows off Windows:
// fill the registry, grant access, inject faults, script answers, and inspect what the program did.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "win_api.h"

namespace standin {

// Key paths are written in UTF-8 as "HKCU\\Software\\..." or "HKLM\\Software\\..." (the long root names work
// too). Key names are kept in UTF-16 and matched without regard to letter case, as Windows does; the A functions
// convert them through the ANSI code page, the W functions take and give them exactly.

// Empties both trees and forgets grants, faults, handles, boxes, writes and problems.
void Reset();

// The ANSI code page, through which the A functions and CP_ACP convert: 1252 (Western, the default and after
// Reset) or 1251 (Cyrillic). Choose it before filling the registry: values stored as ANSI text are kept as UTF-16.
void SetAnsiCodePage(UINT page);

// Creates the key and every missing key above it.
void CreateKey(const char* keyPath);
// Stores a value as RegSetValueExA would, creating the key if needed: the bytes of REG_SZ, REG_EXPAND_SZ and
// REG_MULTI_SZ are ANSI text, kept as UTF-16 (converted with the ANSI code page); any other type's are kept.
void SetValue(const char* keyPath, const char* name, DWORD type, const void* data, size_t size);
// Stores a value as RegSetValueExW would: its exact bytes, strings being UTF-16LE.
void SetValueW(const char* keyPath, const char* name, DWORD type, const void* data, size_t size);
// Stores a REG_SZ with its terminating NUL.
void SetString(const char* keyPath, const char* name, const char* text);
void SetDword(const char* keyPath, const char* name, DWORD value);

struct StoredValue {
    bool present;
    DWORD type;
    std::string bytes;  // as RegQueryValueExA hands them back: strings in the ANSI code page
    std::string wide;   // as RegQueryValueExW hands them back: the stored bytes
};
StoredValue GetValue(const char* keyPath, const char* name);
bool KeyExists(const char* keyPath);
// A canonical listing of the key, its values (type and hex bytes) and everything below it.
std::string Dump(const char* keyPath);

// From now on the key and everything below it (until another grant) may only be opened for these rights;
// asking for more gives ERROR_ACCESS_DENIED, as Windows does for a standard user on HKLM.
void Grant(const char* keyPath, REGSAM allowed);

// Fault injection: the matching operation fails with `error` without touching anything.
// `times` limits how often the fault fires; a negative count fires on every match.
void FailOpen(const char* keyPath, LONG error, int times = -1);               // opening this key
void FailEnum(const char* keyPath, DWORD index, LONG error, int times = -1);  // enumerating this index
void FailQuery(const char* keyPath, const char* name, LONG error, int times = -1);
void FailSet(const char* keyPath, const char* name, LONG error, int times = -1);

// Handles: keys opened so far, and keys still open. Predefined roots do not count.
int HandlesOpened();
int HandlesOpen();

// Every successful RegSetValueExA and RegSetValueExW, in order, with the bytes as the program passed them.
struct Write {
    std::string keyPath;
    std::string name;
    DWORD type;
    std::string bytes;
    bool wide;  // written with RegSetValueExW
};
const std::vector<Write>& Writes();

// One line for every registry call and message box, in order (key paths in UTF-8), e.g.
// "open HKCU\\...\\Accounts 0x20019 -> 0", "query Account Name -> 0", "set POP3 Server -> 5",
// "enum 3 -> 259", "close HKCU\\...", "box Atenci\xF3n" (the caption in Windows-1252); the W functions log
// "queryW" and "setW".
const std::vector<std::string>& Calls();

// Misuse of the operations that Windows would reject or that breaks an ownership rule (closing a key
// twice or one never opened, bad parameters, a question box with no scripted answer). Tests expect none.
const std::vector<std::string>& Problems();

// Message boxes shown so far, with the answer given: MessageBoxW's texts, exactly as the program passed them.
struct Box {
    HWND owner;
    std::u16string text;
    std::u16string caption;
    UINT style;
    int answer;
};
const std::vector<Box>& Boxes();
// Answers for boxes that ask a question (anything but a plain OK box), used in order. 0 stands for a box
// that failed to show, as MessageBoxW reports it.
void ScriptAnswers(std::initializer_list<int> answers);

}  // namespace standin
