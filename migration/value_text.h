// Value texts: registry strings in fixed 260-unit buffers, ANSI or UTF-16, and the bounded operations on them.
#pragma once

#include <stddef.h>

#include "win_api.h"

enum { kValueTextSize = 260 };
// An ANSI string in the system code page: at most 259 bytes and its NUL.
typedef char ValueText[kValueTextSize];
// An account's text as code units: the bytes of an ANSI string, each widened unchanged, or the UTF-16 units
// of a wide one; at most 259 units and a NUL. Narrowing an ANSI account's text gives back its exact bytes.
typedef WCHAR AccountText[kValueTextSize];

// Reads a UTF-16 text value, REG_BINARY or REG_SZ, with the wide function; `type` receives its type. Readable
// only with an even number of bytes and a NUL character within the 260 units: ERROR_MORE_DATA when the data is
// longer or fills the buffer without one, ERROR_INVALID_DATA when it is odd or shorter without one,
// ERROR_UNSUPPORTED_TYPE for any other type. On failure the text is left empty.
LONG ReadWideText(HKEY key, const char* name, AccountText& text, DWORD* type);

// Whether a text read by ReadStoreText with this type holds the bytes of an ANSI text rather than UTF-16.
inline bool HoldsAnsiBytes(DWORD type) { return type != REG_SZ && type != REG_EXPAND_SZ; }

// Reads a text value of an ANSI account store with the wide function, so that no character is lost to the code
// page; `type` receives its type. REG_SZ and REG_EXPAND_SZ give their UTF-16 characters; REG_MULTI_SZ is
// ERROR_UNSUPPORTED_TYPE; any other type's data is taken as the bytes of an ANSI text, each widened to one unit,
// as the A function hands them back. Data that ends without a NUL ends there, unless it fills the 260 units (or
// bytes): then ERROR_MORE_DATA, as for longer data. On failure the text is left empty.
LONG ReadStoreText(HKEY key, const char* name, AccountText& text, DWORD* type);

// Writes a UTF-16 text with the given type and the wide function, its NUL character counted in the size.
LONG WriteWideText(HKEY key, const char* name, DWORD type, const WCHAR* text);
// Writes a text of ANSI bytes, each held in one unit, as those bytes and a NUL, with a type other than a string
// type (which the wide function would take as UTF-16).
LONG WriteAnsiBytes(HKEY key, const char* name, DWORD type, const WCHAR* text);

// A text of ANSI bytes, each held in one unit, back as those bytes and a NUL; false when it does not fit.
bool NarrowAnsiBytes(const WCHAR* text, ValueText& bytes);
// A text of ANSI bytes, each held in one unit, as the UTF-16 characters they stand for in the system's code
// page (`decoded` may be `text` itself); false when it cannot be converted.
bool DecodeAnsiBytes(const WCHAR* text, AccountText& decoded);

// ---- Bounded operations, on ANSI texts and on account texts alike ----

inline unsigned UnitOf(char c) { return (unsigned char)c; }
inline unsigned UnitOf(WCHAR c) { return c; }
inline unsigned FoldAscii(unsigned unit) { return unit >= 'A' && unit <= 'Z' ? unit - 'A' + 'a' : unit; }

template <typename C>
size_t TextLength(const C* text)
{
    size_t length = 0;
    while (text[length]) ++length;
    return length;
}

// Appends `tail` (of the same or a narrower unit); false, with the text unchanged, when the result would not
// fit with its NUL.
template <typename C, size_t N, typename T>
bool AppendText(C (&text)[N], const T* tail)
{
    static_assert(sizeof(T) <= sizeof(C), "a text is never narrowed by joining");
    size_t have = TextLength(text), add = TextLength(tail);
    if (add >= N - have) return false;
    for (size_t i = 0; i <= add; ++i) text[have + i] = (C)UnitOf(tail[i]);
    return true;
}

// Copy: false, with the text unchanged, when `from` would not fit with its NUL.
template <typename C, size_t N, typename T>
bool CopyText(C (&text)[N], const T* from)
{
    if (TextLength(from) >= N) return false;
    text[0] = 0;
    return AppendText(text, from);
}

// Whole-text equality and suffix test with the letters A to Z folded; every other unit must be identical.
template <typename A, typename B>
bool SameTextIgnoringCase(const A* a, const B* b)
{
    for (;; ++a, ++b) {
        if (FoldAscii(UnitOf(*a)) != FoldAscii(UnitOf(*b))) return false;
        if (!*a) return true;
    }
}

template <typename A, typename B>
bool EndsWithIgnoringCase(const A* text, const B* suffix)
{
    size_t length = TextLength(text), tail = TextLength(suffix);
    return tail <= length && SameTextIgnoringCase(text + length - tail, suffix);
}
