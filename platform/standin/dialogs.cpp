// Stand-in message boxes (recorded, answered from a script), system error descriptions and the conversion of
// wide text to the ANSI code page.
#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "codepage.h"
#include "journal.h"
#include "standin.h"

namespace standin {
namespace {

std::vector<Box> g_boxes;
std::deque<int> g_answers;

struct Description {
    DWORD code;
    const char* text;
};

// The texts that an English Windows gives for the codes the program may meet.
const Description kDescriptions[] = {
    {0, "The operation completed successfully.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {13, "The data is invalid.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {161, "The specified path is invalid.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {1009, "The configuration registry database is corrupt.\r\n"},
    {1013, "The configuration registry key could not be written.\r\n"},
    {1016, "An I/O operation initiated by the registry failed unrecoverably. The registry could not read in, "
           "or write out, or flush, one of the files that contain the system's image of the registry.\r\n"},
    {1630, "Data of this type is not supported.\r\n"},
};

}  // namespace

void ResetDialogs()
{
    g_boxes.clear();
    g_answers.clear();
}

const std::vector<Box>& Boxes() { return g_boxes; }

void ScriptAnswers(std::initializer_list<int> answers)
{
    for (int answer : answers) g_answers.push_back(answer);
}

}  // namespace standin

using namespace standin;

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    Box box{hWnd, lpText ? lpText : "", lpCaption ? lpCaption : "Error", uType, IDOK};
    if (!lpText) LogProblem("MessageBoxA without a text");
    UINT buttons = uType & MB_TYPEMASK;
    if (buttons != MB_OK) {
        if (g_answers.empty()) {
            LogProblem("MessageBoxA: no scripted answer for \"" + box.text + "\"");
            box.answer = buttons == MB_YESNO ? IDNO : IDCANCEL;
        } else {
            box.answer = g_answers.front();
            g_answers.pop_front();
            // 0 is the box failing to show (MessageBoxA's failure result), possible with any buttons.
            bool valid = box.answer == 0 || (buttons == MB_YESNO ? (box.answer == IDYES || box.answer == IDNO)
                                                                 : (box.answer == IDOK || box.answer == IDCANCEL));
            if (!valid) LogProblem("MessageBoxA: scripted answer " + std::to_string(box.answer) + " has no button");
        }
    }
    g_boxes.push_back(box);
    LogCall("box " + box.caption);
    return box.answer;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPSTR lpBuffer,
                            DWORD nSize, void* Arguments)
{
    (void)lpSource;
    (void)dwLanguageId;
    (void)Arguments;
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !lpBuffer) {
        LogProblem("FormatMessageA: unsupported flags or no buffer");
        return 0;
    }
    if (!(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS)) LogProblem("FormatMessageA without FORMAT_MESSAGE_IGNORE_INSERTS");
    for (const Description& d : kDescriptions) {
        if (d.code != dwMessageId) continue;
        size_t length = strlen(d.text);
        if (length + 1 > nSize) return 0;  // ERROR_INSUFFICIENT_BUFFER
        memcpy(lpBuffer, d.text, length + 1);
        return (DWORD)length;
    }
    return 0;  // ERROR_MR_MID_NOT_FOUND: the system has no text for this code
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, BOOL* lpUsedDefaultChar)
{
    if (CodePage != CP_ACP || dwFlags != 0 || !lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 ||
        cbMultiByte < 0 || (cbMultiByte > 0 && !lpMultiByteStr)) {
        LogProblem("WideCharToMultiByte with parameters the program does not use");
        return 0;  // ERROR_INVALID_PARAMETER
    }
    if (lpDefaultChar || lpUsedDefaultChar) LogProblem("WideCharToMultiByte with a default character");
    size_t units = 0;
    if (cchWideChar == -1) {
        while (lpWideCharStr[units]) ++units;
        ++units;  // the NUL is converted too
    } else {
        units = (size_t)cchWideChar;
    }
    std::string ansi = UnitsToAnsi(lpWideCharStr, units);
    if (cbMultiByte == 0) return (int)ansi.size();  // the size needed
    // Like Windows, fills what fits before it fails for want of room (ERROR_INSUFFICIENT_BUFFER).
    size_t written = ansi.size() < (size_t)cbMultiByte ? ansi.size() : (size_t)cbMultiByte;
    memcpy(lpMultiByteStr, ansi.data(), written);
    return written == ansi.size() ? (int)written : 0;
}
