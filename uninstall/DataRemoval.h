// Removing the browsing data of the user who started the uninstall, with that user's own rights.
#pragma once
#include <windows.h>

// Removes the browsing data of the signed-in user. Where this process has rights that user
// lacks (an elevated administrator, or an administrator's password typed for a standard user),
// the helper this program carries does it, started by the desktop shell as that user, so that
// no link the user put in his profile leads an administrator's deletion elsewhere, and the data
// that goes is his. Otherwise this process removes `iniPath` and `dataDir` itself. True when the
// data is gone; false when some stayed or the helper could not be started.
bool RemoveUserBrowserData(const WCHAR *iniPath, const WCHAR *dataDir, const WCHAR *installDir);
