// Removes an installation as its record describes it: only what still holds what the setup put
// there, never through a link or junction, folders only when they are empty afterwards.
#pragma once
#include "engine/InstallRecord.h"

struct UninstallCounts {
    int removed;  // files, shortcuts, values and keys that went
    int kept;     // those left because they changed since, or could not go
};

// Removes what `record` (loaded from its install folder) names, then the record and the install
// folder when nothing else is left in it. `progress`, when given, hears the percentage done.
UninstallCounts RemoveRecordedInstallation(const CInstallRecord &record, void (*progress)(void *context, int percent),
                                           void *context);

// The browser's own data of the installing user: its ini file, and its data folder where that is
// not the install folder itself.
void RemoveBrowserData(const WCHAR *iniPath, const WCHAR *dataDir, const WCHAR *installDir);
