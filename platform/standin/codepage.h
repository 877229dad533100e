// The stand-in's ANSI code page, Windows-1252, as the A functions convert through it.
#pragma once

#include <stddef.h>

#include <string>

namespace standin {

// ANSI bytes to UTF-16LE bytes, one character each.
std::string AnsiToWide(const std::string& ansi);
// UTF-16LE bytes to ANSI bytes, one a whole character (an odd last byte is dropped); a character the code page
// lacks becomes "?".
std::string WideToAnsi(const std::string& wide);
// The same for `count` UTF-16 units, as a W function receives them.
std::string UnitsToAnsi(const char16_t* units, size_t count);

}  // namespace standin
