// Test helper for the Wine runs: starts a program in its own folder, records every message box it shows and
// answers it (the question with Yes or No as told, every other box with OK), optionally saving a screenshot of
// each box.
//
//   box_answerer --answer yes|no --log FILE [--shots DIR] [--describe CODE]... -- PROGRAM [ARGS...]
//
// The log is UTF-8, one record per line, fields separated by tabs, with \\, \t, \r and \n escaped:
//   describe <code> <the system's description of that error code>
//   box <caption> <text> <visible buttons, e.g. yes,no> <icon|noicon> <owner|noowner> <their labels as the
//       box shows them, without the accelerator's &, separated by " / ", e.g. Sí / No>
//   exit <the program's exit code>
//   elapsed <milliseconds from the program's start to its end>
// Exit code: 0 when the program ran to its end, 2 on a usage or start error, 3 when the program did not end
// in time (it is then terminated), 4 when the program could not start because Windows cannot run its format.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

const wchar_t kAnsweredMark[] = L"VireskaBoxAnswered";
const DWORD kTimeoutMs = 60000;
const int kExitStartError = 2, kExitTimeout = 3, kExitBadFormat = 4;

struct Options {
    int questionAnswer = 0;  // IDYES or IDNO
    const wchar_t* log = nullptr;
    const wchar_t* shots = nullptr;
};

struct Watch {
    DWORD processId;
    FILE* log;
    const Options* options;
    int boxes;
};

void WriteEscaped(FILE* out, const wchar_t* text)
{
    char utf8[8192];
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
    if (size == 0) {
        fputs("<unconvertible>", out);
        return;
    }
    for (const char* c = utf8; *c; ++c) {
        switch (*c) {
        case '\\': fputs("\\\\", out); break;
        case '\t': fputs("\\t", out); break;
        case '\r': fputs("\\r", out); break;
        case '\n': fputs("\\n", out); break;
        default: fputc(*c, out);
        }
    }
}

// Saves the box as it is on the screen, title bar included, as a 24-bit bottom-up BMP.
void SaveScreenshot(HWND box, const wchar_t* path)
{
    // Drawn as the customer sees it, active: a double-clicked program's first box takes the foreground, while one
    // started by this windowless helper may not, and would show a grey title bar.
    SendMessageW(box, WM_NCACTIVATE, TRUE, 0);
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);  // let the box's own thread finish painting
    RECT rect;
    if (!GetWindowRect(box, &rect)) return;
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    DWORD stride = ((DWORD)width * 3 + 3) & ~3u;
    DWORD imageSize = stride * (DWORD)height;
    BYTE* pixels = (BYTE*)malloc(imageSize);
    if (pixels && GetDIBits(memory, bitmap, 0, (UINT)height, pixels, (BITMAPINFO*)&header, DIB_RGB_COLORS)) {
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42;  // "BM"
        file.bfOffBits = sizeof file + sizeof header;
        file.bfSize = file.bfOffBits + imageSize;
        FILE* out = _wfopen(path, L"wb");
        if (out) {
            fwrite(&file, sizeof file, 1, out);
            fwrite(&header, sizeof header, 1, out);
            fwrite(pixels, imageSize, 1, out);
            fclose(out);
        }
    }
    free(pixels);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// The box shows an icon if one of its static controls is an icon control that is visible and holds one.
BOOL CALLBACK FindIcon(HWND child, LPARAM found)
{
    wchar_t className[16];
    if (GetClassNameW(child, className, 16) && _wcsicmp(className, L"Static") == 0 &&
        (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
        SendMessageW(child, STM_GETICON, 0, 0) != 0) {
        *(bool*)found = true;
        return FALSE;
    }
    return TRUE;
}

void RecordAndAnswer(HWND box, Watch& watch)
{
    SetPropW(box, kAnsweredMark, (HANDLE)1);  // Wine reuses handles: mark the window, not its handle
    ++watch.boxes;

    wchar_t caption[512] = L"", text[4096] = L"";
    GetWindowTextW(box, caption, 512);
    GetDlgItemTextW(box, 0xFFFF, text, 4096);

    static const struct {
        int id;
        const char* name;
    } kButtons[] = {{IDOK, "ok"},         {IDCANCEL, "cancel"}, {IDABORT, "abort"}, {IDRETRY, "retry"},
                    {IDIGNORE, "ignore"}, {IDYES, "yes"},       {IDNO, "no"}};
    char buttons[64] = "";
    wchar_t labels[512] = L"";
    for (const auto& button : kButtons) {
        HWND control = GetDlgItem(box, button.id);
        if (!control || !IsWindowVisible(control)) continue;
        if (buttons[0]) strcat(buttons, ",");
        strcat(buttons, button.name);
        wchar_t label[64] = L"";
        GetWindowTextW(control, label, 64);
        if (labels[0]) wcscat(labels, L" / ");
        size_t end = wcslen(labels);
        for (const wchar_t* c = label; *c && end < 500; ++c) {
            if (*c == L'&') ++c;  // "&S" underlines S; "&&" is one "&"
            if (!*c) break;
            labels[end++] = *c;
        }
        labels[end] = L'\0';
    }
    bool icon = false;
    EnumChildWindows(box, FindIcon, (LPARAM)&icon);

    fputs("box\t", watch.log);
    WriteEscaped(watch.log, caption);
    fputc('\t', watch.log);
    WriteEscaped(watch.log, text);
    fprintf(watch.log, "\t%s\t%s\t%s\t", buttons[0] ? buttons : "none", icon ? "icon" : "noicon",
            GetWindow(box, GW_OWNER) ? "owner" : "noowner");
    WriteEscaped(watch.log, labels);
    fputc('\n', watch.log);
    fflush(watch.log);

    if (watch.options->shots) {
        wchar_t path[MAX_PATH];
        _snwprintf(path, MAX_PATH, L"%ls\\box-%02d.bmp", watch.options->shots, watch.boxes);
        path[MAX_PATH - 1] = L'\0';
        SaveScreenshot(box, path);
    }

    // The question has Yes and No; every other box is answered with its OK button.
    int answer = GetDlgItem(box, IDYES) && IsWindowVisible(GetDlgItem(box, IDYES)) ? watch.options->questionAnswer : IDOK;
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), (LPARAM)GetDlgItem(box, answer));
}

BOOL CALLBACK VisitWindow(HWND window, LPARAM context)
{
    Watch& watch = *(Watch*)context;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t className[16];
    if (processId == watch.processId && IsWindowVisible(window) && GetClassNameW(window, className, 16) &&
        wcscmp(className, L"#32770") == 0 && !GetPropW(window, kAnsweredMark)) {
        RecordAndAnswer(window, watch);
    }
    return TRUE;
}

int Usage()
{
    fputs("usage: box_answerer --answer yes|no --log FILE [--shots DIR] [--describe CODE]... -- PROGRAM [ARGS...]\n",
          stderr);
    return kExitStartError;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    DWORD describe[16];
    int describeCount = 0;
    int i = 1;
    for (; i < argc; ++i) {
        if (wcscmp(argv[i], L"--") == 0) {
            ++i;
            break;
        }
        if (i + 1 >= argc) return Usage();
        if (wcscmp(argv[i], L"--answer") == 0) {
            ++i;
            options.questionAnswer = wcscmp(argv[i], L"yes") == 0 ? IDYES : wcscmp(argv[i], L"no") == 0 ? IDNO : 0;
            if (!options.questionAnswer) return Usage();
        } else if (wcscmp(argv[i], L"--log") == 0) {
            options.log = argv[++i];
        } else if (wcscmp(argv[i], L"--shots") == 0) {
            options.shots = argv[++i];
        } else if (wcscmp(argv[i], L"--describe") == 0 && describeCount < 16) {
            describe[describeCount++] = wcstoul(argv[++i], nullptr, 10);
        } else {
            return Usage();
        }
    }
    if (!options.questionAnswer || !options.log || i >= argc) return Usage();

    // The program starts in its own folder, as a double-click in Explorer starts it.
    wchar_t folder[MAX_PATH];
    if (wcslen(argv[i]) >= MAX_PATH) return Usage();
    wcscpy(folder, argv[i]);
    wchar_t* lastSlash = wcsrchr(folder, L'\\');
    if (lastSlash) *lastSlash = L'\0';

    // The program's command line: each remaining argument, quoted.
    wchar_t commandLine[4096] = L"";
    for (; i < argc; ++i) {
        if (wcslen(commandLine) + wcslen(argv[i]) + 4 >= 4096) return Usage();
        if (commandLine[0]) wcscat(commandLine, L" ");
        wcscat(commandLine, L"\"");
        wcscat(commandLine, argv[i]);
        wcscat(commandLine, L"\"");
    }

    FILE* log = _wfopen(options.log, L"wb");
    if (!log) {
        fwprintf(stderr, L"cannot write %ls\n", options.log);
        return kExitStartError;
    }
    for (int d = 0; d < describeCount; ++d) {
        wchar_t description[1024] = L"";
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, describe[d], 0,
                       description, 1024, nullptr);
        fprintf(log, "describe\t%lu\t", describe[d]);
        WriteEscaped(log, description);
        fputc('\n', log);
    }

    LARGE_INTEGER frequency, started, ended;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, lastSlash ? folder : nullptr,
                        &startup, &process)) {
        DWORD error = GetLastError();
        fprintf(log, "start-error\t%lu\n", error);
        fclose(log);
        fwprintf(stderr, L"cannot start %ls: error %lu\n", commandLine, error);
        return error == ERROR_BAD_EXE_FORMAT || error == ERROR_EXE_MACHINE_TYPE_MISMATCH ? kExitBadFormat
                                                                                      : kExitStartError;
    }

    Watch watch = {process.dwProcessId, log, &options, 0};
    ULONGLONG start = GetTickCount64();
    while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT) {
        EnumWindows(VisitWindow, (LPARAM)&watch);
        if (GetTickCount64() - start > kTimeoutMs) {
            TerminateProcess(process.hProcess, 1);
            fputs("timeout\n", log);
            fclose(log);
            return kExitTimeout;
        }
    }
    QueryPerformanceCounter(&ended);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    fprintf(log, "exit\t%lu\nelapsed\t%.1f\n", exitCode,
            (double)(ended.QuadPart - started.QuadPart) * 1000.0 / (double)frequency.QuadPart);
    fclose(log);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
