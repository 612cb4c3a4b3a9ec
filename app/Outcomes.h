// The exit codes of silent runs of the setup and the uninstaller, the table the README gives.
// Each is the Windows error code of that meaning, so deployment tools that know those codes
// (3010 a restart, 1618 another installation running) treat them as they expect. An interactive
// run ends with -1, as it always has.
#pragma once
#include <windows.h>

enum RunOutcome {
    kOutcomeDone = 0,                  // installed, or removed
    kOutcomeRestartNeeded = 3010,      // installed; files that were in use go at the next restart
    kOutcomeBadArguments = 87,         // an unknown or malformed option
    kOutcomeLogRefused = 110,          // the log file is refused or cannot be opened (ERROR_OPEN_FAILED)
    kOutcomeFolderRefused = 267,       // the install folder is refused, or cannot be written
    kOutcomeBrowserRunning = 32,       // the browser runs from the install folder (/CloseBrowser=0)
    kOutcomeAnotherSetup = 1618,       // another setup is running, or updating the folder
    kOutcomeDiskFull = 112,            // the install or the temporary folder's drive is too small
    kOutcomePayloadDamaged = 1620,     // the packed browser files are damaged
    kOutcomeCopyFailed = 1603,         // the copy failed; the earlier state was put back
    kOutcomeNotElevated = 740,         // started without administrator rights
    kOutcomeCancelled = 1602,          // the progress page was closed (interactive runs only)
    kOutcomeNewerInstalled = 1638,     // a newer browser is installed and /Downgrade=0 keeps it
    kOutcomeRecordKept = 1610,         // installed, but the record could not be written or merged:
                                       // the earlier record, or none, stays as it was
    // The uninstaller's own.
    kOutcomeNotInstalled = 1605,       // no installation record in the folder
    kOutcomeRecordRefused = 13,        // the record is damaged or names what is not the browser's
    kOutcomeOthersCouldChange = 5,     // other users could change the folder, record or uninstaller
    kOutcomeFilesStayed = 1920,        // files in use or behind a link stayed; run it again later
};

// The meaning of an exit code, for the log's last line.
const WCHAR *DescribeOutcome(int code);
// Writes the log's last line, the code and its meaning, closes the log and returns the code.
int EndRun(int code);

// Whether this process has administrator rights (elevated where Windows splits them).
bool RunsAsAdministrator();
