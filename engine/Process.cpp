#include "engine/Process.h"

BOOL ExecCommandLine(WCHAR *commandLine, int showMode, DWORD waitMilliseconds)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK;
    startup.wShowWindow = (WORD)showMode;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return FALSE;
    CloseHandle(process.hThread);
    if (waitMilliseconds == 0) {
        CloseHandle(process.hProcess);
        return TRUE;
    }
    DWORD waited = WaitForSingleObject(process.hProcess, waitMilliseconds);
    CloseHandle(process.hProcess);
    return waited == WAIT_OBJECT_0;
}
