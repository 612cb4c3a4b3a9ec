// Removes an installation as its record describes it: only what still holds what the setup put
// there, never through a link or junction, folders only when they are empty afterwards.
#pragma once
#include "engine/record/InstallRecord.h"

// What became of the browsing data when the user asked for it to go.
enum DataOutcome {
    kDataNotAsked,
    kDataGone,
    kDataKept,            // some of it stayed, or the helper could not be started
    kDataNoDesktopUser,   // no desktop shell whose user it could be: nobody's data was touched
};

struct UninstallCounts {
    int removed;      // files, shortcuts, values and keys that went, or were gone already
    int kept;         // those left because they changed since the installation
    int inUse;        // files and shortcuts as the setup put them that could not go now
    int unreachable;  // files behind a link or junction, never touched
    DataOutcome data;
    WCHAR firstInUse[MAX_PATH];  // the name of the first file in use
};

// Removes what `record` (loaded from its install folder) names, then the record and the install
// folder when nothing else is left in it. `progress`, when given, hears the percentage done.
// Nothing is put off until a restart: where a file is in use or out of reach, it stays, and so do
// the uninstaller, its entry in the list of programs and the record, so that the removal can be
// run again; the record is held open for deletion before the entry goes, so one that cannot go
// keeps the entry too. With `runningUninstaller` the uninstaller's own file is the program still
// running (a silent removal's first program, which waits for the answer): it is opened for
// deletion and checked now, its handle handed back there (null where it is not held) for
// DeleteUninstallerOnceEnded, and the entry and the record go now; where it cannot be opened so,
// it counts as in use and the way back stays.
UninstallCounts RemoveRecordedInstallation(const CInstallRecord &record, void (*progress)(void *context, int percent),
                                           void *context, HANDLE *runningUninstaller = NULL);

// Deletes the uninstaller's file held by RemoveRecordedInstallation once the program it is has
// ended, then the install folder when nothing else is left in it; the handle is closed. Where it
// cannot go now (mapped by someone else) it goes, with the folder, at the next restart; false
// when not even that could be arranged.
bool DeleteUninstallerOnceEnded(HANDLE uninstaller, const CInstallRecord &record);

// What the closing page says: that the browser is gone, or how many items stayed and why.
void DescribeUninstallEnd(const UninstallCounts &counts, WCHAR (&text)[400]);

// The browser's data folder of the user this process runs as, from Vista on (older systems keep
// the data in the install folder). False when the user's application data folder is unknown.
bool UserDataFolder(WCHAR (&folder)[MAX_PATH]);

// The browser's own data of a user: its ini file, and its data folder where that is not the
// install folder itself. Links are removed, never followed, and what is in use stays. True when
// neither is left.
bool RemoveBrowserData(const WCHAR *iniPath, const WCHAR *dataDir, const WCHAR *installDir);

// Who removes the browsing data: this process itself, the helper the desktop shell starts as its
// own user, or nobody.
enum DataRemovalRoad { kDataRemovedHere, kDataRemovedByHelper, kDataRemovedByNobody };

// The data that goes is the desktop user's, the one who asked: this process removes it only as
// that same user without rights the desktop lacks (`elevatedSplitToken`: the elevated half of a
// split token); as another user (an administrator's password typed for a standard user, the
// machine's account) or elevated, the helper does, started by the shell. `desktopUser` is the
// desktop shell's user, null where there is no shell or its user cannot be read: then nobody's
// data goes.
DataRemovalRoad ChooseDataRemovalRoad(PSID self, PSID desktopUser, bool elevatedSplitToken);
