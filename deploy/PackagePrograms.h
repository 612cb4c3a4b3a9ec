// The programs that the package's deferred actions run as the machine's account. The setup's name
// comes in CustomActionData, which the immediate action set in its caller's rights: whoever
// starts a repair, any user, could have named a program of his own there. The uninstaller's
// comes from the record, and its drive may be another than the one it was installed on.
#pragma once
#include <windows.h>

// Opens `program` and holds it, so that it can be neither changed nor renamed until the handle
// is closed, when it is a plain file named `name` ("\VelmarinSetup.exe") with one name, on a
// local drive, in folders only administrators could change, and only they could change it. Else
// INVALID_HANDLE_VALUE.
HANDLE HoldPackageProgram(const WCHAR *program, const WCHAR *name);
