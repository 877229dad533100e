// Windows-1252 as Windows maps it: Latin-1 but for 0x80 to 0x9F, whose five unassigned bytes map to the C1
// controls of the same number, so that every byte has a character and back.
#include "codepage.h"

namespace standin {
namespace {

const char16_t k80To9F[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D,
    0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A,
    0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t CharacterOf(unsigned char byte) { return byte >= 0x80 && byte <= 0x9F ? k80To9F[byte - 0x80] : byte; }

char ByteOf(char16_t character)
{
    if (character < 0x80 || (character >= 0xA0 && character <= 0xFF)) return (char)character;
    for (int i = 0; i < 32; ++i)
        if (k80To9F[i] == character) return (char)(0x80 + i);
    return '?';
}

}  // namespace

std::string AnsiToWide(const std::string& ansi)
{
    std::string wide;
    for (unsigned char byte : ansi) {
        char16_t character = CharacterOf(byte);
        wide += (char)(character & 0xFF);
        wide += (char)(character >> 8);
    }
    return wide;
}

std::string WideToAnsi(const std::string& wide)
{
    std::string ansi;
    for (size_t i = 0; i + 1 < wide.size(); i += 2)
        ansi += ByteOf((char16_t)((unsigned char)wide[i] | (unsigned char)wide[i + 1] << 8));
    return ansi;
}

std::string UnitsToAnsi(const char16_t* units, size_t count)
{
    std::string ansi;
    for (size_t i = 0; i < count; ++i) ansi += ByteOf(units[i]);
    return ansi;
}

}  // namespace standin
