// Value texts: NUL-terminated ANSI strings in fixed 260-byte buffers, and the bounded operations on them.
#pragma once

#include "win_api.h"

enum { kValueTextSize = 260 };
typedef char ValueText[kValueTextSize];

// Reads a registry value into a value text. The result is the registry's, or ERROR_MORE_DATA when the data
// holds no NUL within the buffer; data shorter than the buffer without a NUL is terminated after its bytes.
// On failure the text is left empty.
LONG ReadValueText(HKEY key, const char* name, ValueText& text);

// Writes a value text as REG_SZ, its terminating NUL counted in the size.
LONG WriteValueText(HKEY key, const char* name, const char* text);

// Copy and append: false, with the text unchanged, when the result would not fit with its NUL.
bool CopyText(ValueText& text, const char* from);
bool AppendText(ValueText& text, const char* tail);

// Whole-text equality and suffix test with the letters A to Z folded; every other byte must be identical.
bool SameTextIgnoringCase(const char* a, const char* b);
bool EndsWithIgnoringCase(const char* text, const char* suffix);
