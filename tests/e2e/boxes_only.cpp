// Benchmark baseline: a trivial Windows program that only shows message boxes, as many as its command line
// says, the first a Yes/No question and the rest notices, through MessageBoxW as the program shows them, so that
// timing it shows what the boxes alone cost.
#include <windows.h>

#include <stdlib.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    int count = atoi(commandLine[0] == '"' ? commandLine + 1 : commandLine);  // the helper quotes it
    for (int i = 0; i < count; ++i) {
        MessageBoxW(NULL, i == 0 ? L"Pregunta" : L"Aviso", L"Atenci\u00F3n",
                    i == 0 ? MB_YESNO | MB_ICONQUESTION : MB_OK | MB_ICONINFORMATION);
    }
    return 0;
}
