/* A marker DLL: loaded into a process, it appends that process's path to a file beside itself named like it
   with ".ran" added. Planted beside the program as uxtheme.dll, as one left in a Downloads folder would lie, it
   must never be loaded; put in the system directory as dwmapi.dll, it must be, by the program's preloading. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    WCHAR marker[MAX_PATH + 8], host[MAX_PATH];
    DWORD length = GetModuleFileNameW(self, marker, MAX_PATH), hostLength = GetModuleFileNameW(NULL, host, MAX_PATH);
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH && length > 0 && length < MAX_PATH && hostLength < MAX_PATH) {
        HANDLE file;
        lstrcpyW(marker + length, L".ran");
        file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written;
            WriteFile(file, host, hostLength * sizeof(WCHAR), &written, NULL);
            WriteFile(file, L"\n", sizeof(WCHAR), &written, NULL);
            CloseHandle(file);
        }
    }
    return TRUE;
}
