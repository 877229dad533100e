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

// Queries a value with the wide function into a buffer of an account text's size; ERROR_MORE_DATA when the data
// is longer. `size` receives the data's size.
LONG QueryWide(HKEY key, const char* name, void* data, DWORD* size, DWORD* type)
{
    WideName wideName;
    Widen(name, wideName);
    *type = REG_NONE;
    *size = sizeof(AccountText);
    LONG result = RegQueryValueExW(key, wideName, NULL, type, (LPBYTE)data, size);
    if (result == ERROR_SUCCESS && *size > sizeof(AccountText)) result = ERROR_MORE_DATA;
    return result;
}

}  // namespace

LONG ReadWideText(HKEY key, const char* name, AccountText& text, DWORD* type)
{
    DWORD size;
    LONG result = QueryWide(key, name, text, &size, type);
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
    BYTE data[sizeof text];
    DWORD size;
    LONG result = QueryWide(key, name, data, &size, type);
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
    ValueText bytes;
    if (!NarrowAnsiBytes(text, bytes)) return ERROR_INSUFFICIENT_BUFFER;
    return RegSetValueExW(key, wideName, 0, type, (const BYTE*)bytes, (DWORD)(strlen(bytes) + 1));
}

bool NarrowAnsiBytes(const WCHAR* text, ValueText& bytes)
{
    size_t length = TextLength(text);
    if (length >= sizeof bytes) return false;
    for (size_t i = 0; i <= length; ++i) bytes[i] = (char)text[i];
    return true;
}

bool DecodeAnsiBytes(const WCHAR* text, AccountText& decoded)
{
    ValueText bytes;
    return NarrowAnsiBytes(text, bytes) && MultiByteToWideChar(CP_ACP, 0, bytes, -1, decoded, kValueTextSize) != 0;
}
