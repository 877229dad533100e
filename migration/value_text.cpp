// Bounded operations on value texts: reading and writing registry strings, ANSI and UTF-16.
#include "value_text.h"

#include <string.h>

namespace {

// A value name for the wide functions: every name the program uses is ASCII and short.
typedef WCHAR WideName[64];

void Widen(const char* name, WideName& wide)
{
    if (!CopyText(wide, name)) wide[0] = 0;  // cannot happen with the program's own names
}

}  // namespace

LONG ReadValueText(HKEY key, const char* name, ValueText& text)
{
    DWORD type = REG_NONE;  // not examined: whatever bytes the value holds are taken as text
    DWORD size = sizeof text;
    LONG result = RegQueryValueExA(key, name, NULL, &type, (LPBYTE)text, &size);
    if (result == ERROR_SUCCESS && size > sizeof text) result = ERROR_MORE_DATA;
    if (result == ERROR_SUCCESS && !memchr(text, '\0', size)) {
        if (size == sizeof text) {
            result = ERROR_MORE_DATA;  // no room left for the missing terminator
        } else {
            text[size] = '\0';
        }
    }
    if (result != ERROR_SUCCESS) text[0] = '\0';
    return result;
}

LONG ReadWideText(HKEY key, const char* name, AccountText& text, DWORD* type)
{
    WideName wideName;
    Widen(name, wideName);
    *type = REG_NONE;
    DWORD size = sizeof text;
    LONG result = RegQueryValueExW(key, wideName, NULL, type, (LPBYTE)text, &size);
    if (result == ERROR_SUCCESS && size > sizeof text) result = ERROR_MORE_DATA;
    if (result == ERROR_SUCCESS) {
        size_t units = size / sizeof text[0], nul = 0;
        while (nul < units && text[nul] != 0) ++nul;
        if (*type != REG_BINARY && *type != REG_SZ) {
            result = ERROR_UNSUPPORTED_TYPE;
        } else if (nul == units && size == sizeof text) {
            result = ERROR_MORE_DATA;  // 260 characters and no room for the end
        } else if (size % sizeof text[0] != 0 || nul == units) {
            result = ERROR_INVALID_DATA;  // half a character, or no end within the data
        }
    }
    if (result != ERROR_SUCCESS) text[0] = 0;
    return result;
}

LONG ReadStoreText(HKEY key, const char* name, AccountText& text, DWORD* type)
{
    WideName wideName;
    Widen(name, wideName);
    *type = REG_NONE;
    BYTE data[sizeof text];
    DWORD size = sizeof data;
    LONG result = RegQueryValueExW(key, wideName, NULL, type, data, &size);
    if (result == ERROR_SUCCESS && size > sizeof data) result = ERROR_MORE_DATA;
    if (result == ERROR_SUCCESS && *type == REG_MULTI_SZ) result = ERROR_UNSUPPORTED_TYPE;
    if (result == ERROR_SUCCESS) {
        // One unit per byte for ANSI bytes, per two bytes (a half character dropped) for UTF-16.
        bool bytes = HoldsAnsiBytes(*type);
        size_t units = bytes ? size : size / sizeof text[0];
        if (units > kValueTextSize) {
            result = ERROR_MORE_DATA;  // ANSI bytes beyond the 260 a value text holds
        } else {
            size_t end = 0;
            for (; end < units; ++end) {
                WCHAR unit = bytes ? data[end] : (WCHAR)(data[2 * end] | data[2 * end + 1] << 8);
                if (unit == 0) break;
                text[end] = unit;
            }
            if (end == kValueTextSize) {
                result = ERROR_MORE_DATA;  // no room left for the missing end
            } else {
                text[end] = 0;
            }
        }
    }
    if (result != ERROR_SUCCESS) text[0] = 0;
    return result;
}

LONG WriteWideText(HKEY key, const char* name, DWORD type, const WCHAR* text)
{
    WideName wideName;
    Widen(name, wideName);
    return RegSetValueExW(key, wideName, 0, type, (const BYTE*)text, (DWORD)((TextLength(text) + 1) * sizeof *text));
}

LONG WriteAnsiBytes(HKEY key, const char* name, DWORD type, const WCHAR* text)
{
    WideName wideName;
    Widen(name, wideName);
    BYTE bytes[kValueTextSize];
    size_t length = TextLength(text);
    if (length >= sizeof bytes) return ERROR_INSUFFICIENT_BUFFER;
    for (size_t i = 0; i <= length; ++i) bytes[i] = (BYTE)text[i];
    return RegSetValueExW(key, wideName, 0, type, bytes, (DWORD)(length + 1));
}
