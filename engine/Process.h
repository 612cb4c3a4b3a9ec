// Starting programs.
#pragma once
#include <windows.h>

// Starts a command line (program path first) with the given show mode. Wait 0 returns TRUE once
// the process exists; any other wait returns TRUE only if the process ended within it (INFINITE
// waits without limit). FALSE when the process could not be created. No handle of ours is
// inherited by the new process.
BOOL ExecCommandLine(WCHAR *commandLine, int showMode, DWORD waitMilliseconds);
