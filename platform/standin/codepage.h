// The stand-in's code pages: Windows-1252, the ANSI code page unless a test chooses Windows-1251, through which
// the A functions and CP_ACP convert.
#pragma once

#include <stddef.h>

#include <string>

namespace standin {

// Whether the stand-in knows this code page (1252 or 1251).
bool KnownCodePage(unsigned page);
// The ANSI code page now in force.
unsigned AnsiCodePage();
void UseAnsiCodePage(unsigned page);

// One byte of a code page as its UTF-16 character.
char16_t CharacterOf(unsigned page, unsigned char byte);
// ANSI bytes to UTF-16 characters in the ANSI code page, one each; and to their UTF-16LE bytes.
std::u16string AnsiToUnits(const std::string& ansi);
std::string AnsiToWide(const std::string& ansi);
// UTF-16LE bytes to ANSI bytes, one a whole character (an odd last byte is dropped); a character the code page
// lacks becomes "?".
std::string WideToAnsi(const std::string& wide);
// The same for `count` UTF-16 units, as a W function receives them, in the given code page.
std::string UnitsToAnsi(const char16_t* units, size_t count, unsigned page);

}  // namespace standin
