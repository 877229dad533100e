// The process entry point of the Windows executable. The program needs none of the C runtime's start-up
// (no stdio, heap, locale or exit handlers), so this one gathers WinMain's arguments and ends the process.
#include "win_api.h"

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
    RunStaticConstructors();
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    int showState = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    int exitCode = WinMain(GetModuleHandleA(NULL), NULL, ArgumentsOf(GetCommandLineA()), showState);
    ExitProcess((UINT)exitCode);
}
