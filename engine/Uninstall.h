// Removes an installation as its record describes it: only what still holds what the setup put
// there, never through a link or junction, folders only when they are empty afterwards.
#pragma once
#include "engine/InstallRecord.h"

struct UninstallCounts {
    int removed;      // files, shortcuts, values and keys that went, or were gone already
    int kept;         // those left because they changed since the installation
    int inUse;        // files and shortcuts as the setup put them that could not go now
    int unreachable;  // files behind a link or junction, never touched
    bool dataKept;    // the browsing data was to go, and some of it stayed
    WCHAR firstInUse[MAX_PATH];  // the name of the first file in use
};

// Removes what `record` (loaded from its install folder) names, then the record and the install
// folder when nothing else is left in it. `progress`, when given, hears the percentage done.
// Nothing is put off until a restart: where a file is in use or out of reach, it stays, and so do
// the uninstaller, its entry in the list of programs and the record, so that the removal can be
// run again. Without `wayBackToo` those three stay in any case: a silent uninstaller removes them
// in a second run once the program it was started as has ended.
UninstallCounts RemoveRecordedInstallation(const CInstallRecord &record, void (*progress)(void *context, int percent),
                                           void *context, bool wayBackToo = true);

// What the closing page says: that the browser is gone, or how many items stayed and why.
void DescribeUninstallEnd(const UninstallCounts &counts, WCHAR (&text)[400]);

// The browser's data folder of the user this process runs as, from Vista on (older systems keep
// the data in the install folder). False when the user's application data folder is unknown.
bool UserDataFolder(WCHAR (&folder)[MAX_PATH]);

// The browser's own data of a user: its ini file, and its data folder where that is not the
// install folder itself. Links are removed, never followed, and what is in use stays. True when
// neither is left.
bool RemoveBrowserData(const WCHAR *iniPath, const WCHAR *dataDir, const WCHAR *installDir);
