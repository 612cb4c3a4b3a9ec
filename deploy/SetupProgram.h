// The setup program that the package's deferred action runs as the machine's account. Its name
// comes in CustomActionData, which the immediate action set in its caller's rights: whoever
// starts a repair, any user, could have named a program of his own there.
#pragma once
#include <windows.h>

// Opens `program` and holds it, so that it can be neither changed nor renamed until the handle
// is closed, when it is a plain file named VelmarinSetup.exe with one name, on a local drive, in
// folders only administrators could change, and only they could change it. Else
// INVALID_HANDLE_VALUE.
HANDLE HoldSetupProgram(const WCHAR *program);
