// Starting programs.
#pragma once
#include <windows.h>

// Starts a command line (program path first) with the given show mode. Wait 0 returns TRUE once
// the process exists; any other wait returns TRUE only if the process ended within it (INFINITE
// waits without limit). FALSE when the process could not be created. No handle of ours is
// inherited by the new process.
BOOL ExecCommandLine(WCHAR *commandLine, int showMode, DWORD waitMilliseconds);
// Starts a command line as ExecCommandLine does; the process handle (the caller closes it), or
// null when it could not be created.
HANDLE StartCommandLine(WCHAR *commandLine, int showMode);

// Starts a program as the signed-in user rather than with this process's (administrator)
// rights: the desktop shell, which runs with the user's own rights, is asked to start it. False
// when the shell could not be reached or did not start it.
bool ShellExecuteAsDesktopUser(const WCHAR *file, const WCHAR *arguments, const WCHAR *folder, int showMode);
