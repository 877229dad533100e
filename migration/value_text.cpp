// Bounded operations on value texts: reading and writing registry strings, copying, joining, comparing.
#include "value_text.h"

#include <string.h>

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

LONG WriteValueText(HKEY key, const char* name, const char* text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)(strlen(text) + 1));
}

bool CopyText(ValueText& text, const char* from)
{
    size_t length = strlen(from);
    if (length >= sizeof text) return false;
    memcpy(text, from, length + 1);
    return true;
}

bool AppendText(ValueText& text, const char* tail)
{
    size_t have = strlen(text), add = strlen(tail);
    if (add >= sizeof text - have) return false;
    memcpy(text + have, tail, add + 1);
    return true;
}

static unsigned char FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? (unsigned char)(c - 'A' + 'a') : c; }

bool SameTextIgnoringCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        if (FoldAscii((unsigned char)*a) != FoldAscii((unsigned char)*b)) return false;
        if (*a == '\0') return true;
    }
}

bool EndsWithIgnoringCase(const char* text, const char* suffix)
{
    size_t length = strlen(text), tail = strlen(suffix);
    return tail <= length && SameTextIgnoringCase(text + length - tail, suffix);
}
