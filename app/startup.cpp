// The process entry point of the Windows executable. The program needs none of the C runtime's start-up
// (no stdio, heap, locale or exit handlers), so this one gathers WinMain's arguments and ends the process.
#include "win_api.h"

#include "value_text.h"
#include "win_main.h"

namespace {

typedef void (*Constructor)();

// The constructor list that the linker lays out: a count (or -1, then a list ending in 0), then entries.
extern "C" Constructor __CTOR_LIST__[];

// Runs the constructors of static objects, last entry first, as the runtime's start-up would. The program
// defines no such object today; this keeps one added later from being left unconstructed.
void RunStaticConstructors()
{
    uintptr_t count = (uintptr_t)__CTOR_LIST__[0];
    if (count == (uintptr_t)-1) {
        for (count = 0; __CTOR_LIST__[count + 1]; ++count) {
        }
    }
    for (; count > 0; --count) __CTOR_LIST__[count]();
}

// The DLLs that the system's own code loads by bare name while the boxes are shown, on a Windows that cannot
// narrow the search to the system directory (XP, and Vista and 7 without KB2533623): the theme engine, which
// USER32 loads for a themed box; the desktop window manager's API, which that engine loads on Vista and 7; and
// version.dll, which the public reports of DLL preloading from a Downloads folder name beside them. (USER32's
// own imports are known DLLs, always taken from the system directory.)
const WCHAR* const kPreloadedDlls[] = {L"uxtheme.dll", L"dwmapi.dll", L"version.dll"};

// Room for the system directory, a backslash and the longest of those names.
enum { kSystemPathSize = MAX_PATH + 16 };

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD flags);
typedef BOOL(WINAPI* SetDllDirectoryWProc)(LPCWSTR path);

// A function of KERNEL32 that not every Windows the program runs on has: null where it lacks it. Importing it
// would stop the program from starting there.
template <typename Proc>
Proc KernelFunction(const char* name)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? (Proc)(void*)GetProcAddress(kernel, name) : NULL;
}

// The program starts from wherever the customer saved it, a Downloads folder as often as not, where a DLL
// named like a system one may lie. Where Windows can, every later load by name searches the system directory
// alone. Elsewhere the current directory leaves the search, and the DLLs the boxes load by name are loaded
// first, by their full path in the system directory, so that a later load by name finds them loaded. A step
// that fails leaves the search as Windows has it.
void LoadOnlySystemDlls()
{
    SetDefaultDllDirectoriesProc setDefault = KernelFunction<SetDefaultDllDirectoriesProc>("SetDefaultDllDirectories");
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    if (SetDllDirectoryWProc setDirectory = KernelFunction<SetDllDirectoryWProc>("SetDllDirectoryW")) setDirectory(L"");
    WCHAR path[kSystemPathSize];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    path[length++] = L'\\';
    for (const WCHAR* name : kPreloadedDlls) {
        path[length] = 0;
        // Its own imports are searched for from the system directory first.
        if (AppendText(path, name)) LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
}

// The command line after the program's name, as WinMain receives it.
LPSTR ArgumentsOf(LPSTR line)
{
    if (*line == '"') {
        for (++line; *line && *line != '"'; ++line) {
        }
        if (*line == '"') ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t') ++line;
    }
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

}  // namespace

// Windows may enter with the stack aligned to 4 bytes only; realign it for the code below.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup()
{
    LoadOnlySystemDlls();
    RunStaticConstructors();
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int showState = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    int exitCode = WinMain(GetModuleHandleA(NULL), NULL, ArgumentsOf(GetCommandLineA()), showState);
    ExitProcess((UINT)exitCode);
}
