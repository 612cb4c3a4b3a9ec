// Removing the browsing data of the user who started the uninstall, with that user's own rights.
#pragma once
#include "engine/removal/Uninstall.h"
#include <windows.h>

// Removes the browsing data of the user of the desktop, who asked for it. Where this process is
// another user (an administrator's password typed for a standard user, the machine's account) or
// has rights that user lacks (an elevated administrator), the helper this program carries does
// it, started by the desktop shell as that user, so that no link the user put in his profile
// leads an administrator's deletion elsewhere, and the data that goes is his. Where it is that
// same user, this process removes `iniPath` and `dataDir` itself. Without a desktop shell whose
// user can be read, nobody's data goes.
DataOutcome RemoveUserBrowserData(const WCHAR *iniPath, const WCHAR *dataDir, const WCHAR *installDir);
