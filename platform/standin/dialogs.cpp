// Stand-in message boxes (recorded, answered from a script), system error descriptions and the conversion of
// a code page's text to UTF-16.
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

namespace {

std::u16string TextOf(LPCWSTR text)
{
    std::u16string units;
    for (; text && *text; ++text) units += *text;
    return units;
}

}  // namespace

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    Box box{hWnd, TextOf(lpText), lpCaption ? TextOf(lpCaption) : u"Error", uType, IDOK};
    std::string shown = UnitsToAnsi(box.text.data(), box.text.size(), 1252);
    if (!lpText) LogProblem("MessageBoxW without a text");
    UINT buttons = uType & MB_TYPEMASK;
    if (buttons != MB_OK) {
        if (g_answers.empty()) {
            LogProblem("MessageBoxW: no scripted answer for \"" + shown + "\"");
            box.answer = buttons == MB_YESNO ? IDNO : IDCANCEL;
        } else {
            box.answer = g_answers.front();
            g_answers.pop_front();
            // 0 is the box failing to show (MessageBoxW's failure result), possible with any buttons.
            bool valid = box.answer == 0 || (buttons == MB_YESNO ? (box.answer == IDYES || box.answer == IDNO)
                                                                 : (box.answer == IDOK || box.answer == IDCANCEL));
            if (!valid) LogProblem("MessageBoxW: scripted answer " + std::to_string(box.answer) + " has no button");
        }
    }
    g_boxes.push_back(box);
    LogCall("box " + UnitsToAnsi(box.caption.data(), box.caption.size(), 1252));
    return box.answer;
}

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                            DWORD nSize, void* Arguments)
{
    (void)lpSource;
    (void)dwLanguageId;
    (void)Arguments;
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !lpBuffer) {
        LogProblem("FormatMessageW: unsupported flags or no buffer");
        return 0;
    }
    if (!(dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS)) LogProblem("FormatMessageW without FORMAT_MESSAGE_IGNORE_INSERTS");
    for (const Description& d : kDescriptions) {
        if (d.code != dwMessageId) continue;
        size_t length = strlen(d.text);
        if (length + 1 > nSize) return 0;  // ERROR_INSUFFICIENT_BUFFER; nSize counts characters
        for (size_t i = 0; i <= length; ++i) lpBuffer[i] = (WCHAR)(unsigned char)d.text[i];
        return (DWORD)length;
    }
    return 0;  // ERROR_MR_MID_NOT_FOUND: the system has no text for this code
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar)
{
    unsigned page = CodePage == CP_ACP ? AnsiCodePage() : CodePage;
    if (!KnownCodePage(page) || dwFlags != 0 || !lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 ||
        cchWideChar < 0 || (cchWideChar > 0 && !lpWideCharStr)) {
        LogProblem("MultiByteToWideChar with parameters the program does not use");
        return 0;  // ERROR_INVALID_PARAMETER
    }
    size_t bytes = cbMultiByte == -1 ? strlen(lpMultiByteStr) + 1 : (size_t)cbMultiByte;  // -1: the NUL too
    if (cchWideChar == 0) return (int)bytes;  // the size needed: one character a byte
    // Like Windows, fills what fits before it fails for want of room (ERROR_INSUFFICIENT_BUFFER).
    size_t written = bytes < (size_t)cchWideChar ? bytes : (size_t)cchWideChar;
    for (size_t i = 0; i < written; ++i) lpWideCharStr[i] = CharacterOf(page, (unsigned char)lpMultiByteStr[i]);
    return written == bytes ? (int)written : 0;
}
