// Windows-1252 and Windows-1251 as Windows maps them: ASCII, then a table of the upper half. The unassigned
// bytes map to the C1 controls of the same number, so that every byte has a character and back.
#include "codepage.h"

namespace standin {
namespace {

// 0x80 to 0x9F of Windows-1252; 0xA0 to 0xFF are Latin-1.
const char16_t k1252[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D,
    0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A,
    0x0153, 0x009D, 0x017E, 0x0178,
};
// 0x80 to 0xBF of Windows-1251; 0xC0 to 0xFF are U+0410 to U+044F.
const char16_t k1251[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C,
    0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A,
    0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9,
    0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

unsigned g_ansiCodePage = 1252;

char ByteOf(char16_t character, unsigned page)
{
    if (character < 0x80) return (char)character;
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        if (CharacterOf(page, (unsigned char)byte) == character) return (char)byte;
    return '?';
}

}  // namespace

bool KnownCodePage(unsigned page) { return page == 1252 || page == 1251; }
unsigned AnsiCodePage() { return g_ansiCodePage; }
void UseAnsiCodePage(unsigned page) { g_ansiCodePage = page; }

char16_t CharacterOf(unsigned page, unsigned char byte)
{
    if (byte < 0x80) return byte;
    if (page == 1251) return byte >= 0xC0 ? (char16_t)(0x0410 + byte - 0xC0) : k1251[byte - 0x80];
    return byte <= 0x9F ? k1252[byte - 0x80] : byte;
}

std::u16string AnsiToUnits(const std::string& ansi)
{
    std::u16string units;
    for (unsigned char byte : ansi) units += CharacterOf(g_ansiCodePage, byte);
    return units;
}

std::string AnsiToWide(const std::string& ansi)
{
    std::string wide;
    for (char16_t character : AnsiToUnits(ansi)) {
        wide += (char)(character & 0xFF);
        wide += (char)(character >> 8);
    }
    return wide;
}

std::string WideToAnsi(const std::string& wide)
{
    std::string ansi;
    for (size_t i = 0; i + 1 < wide.size(); i += 2)
        ansi += ByteOf((char16_t)((unsigned char)wide[i] | (unsigned char)wide[i + 1] << 8), g_ansiCodePage);
    return ansi;
}

std::string UnitsToAnsi(const char16_t* units, size_t count, unsigned page)
{
    std::string ansi;
    for (size_t i = 0; i < count; ++i) ansi += ByteOf(units[i], page);
    return ansi;
}

}  // namespace standin
