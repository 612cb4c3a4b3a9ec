// What the Windows Installer package decides from values alone: whether its public properties
// are sound, the silent command lines of the setup and the uninstaller, and what their exit
// codes become for Windows Installer.
#pragma once
#include <windows.h>
#include <stddef.h>

// The value INSTALLDIR has when the command line does not set it: the setup then keeps the
// folder of an earlier installation, or takes its own default. "?" can never name a folder, so an
// INSTALLDIR set to anything, the empty text included, is told apart from one not given.
extern const WCHAR kSetupChoosesFolder[];

struct PackageProperties {
    const WCHAR *installDir;
    const WCHAR *desktopShortcut;
    const WCHAR *quickLaunchShortcut;
    const WCHAR *defaultBrowser;
    const WCHAR *closeBrowser;
};

// Whether the properties may be handed to the setup; when not, `reason` names the property and
// what is wrong with its value. The setup checks the folder itself; this refuses only what its
// command line could not carry or what can never be a folder.
bool CheckPackageProperties(const PackageProperties &properties, WCHAR *reason, size_t capacity);

// The silent setup's arguments (without the program) for checked properties; false when they
// do not fit. The folder comes last, where the setup takes the rest of the line.
bool SetupArguments(const PackageProperties &properties, const WCHAR *logPath, WCHAR *arguments, size_t capacity);

// The silent uninstaller's arguments: browsing data stays, as the machine's account has no
// user's data to remove.
bool UninstallerArguments(const WCHAR *logPath, WCHAR *arguments, size_t capacity);

// The programs' log file beside the package's own log `packageLog` (Windows Installer's
// MsiLogFileLocation); false when that is no full local path: the programs take no network path
// for a log, and a relative one would lead elsewhere from the custom actions' folder.
extern const WCHAR kLogName[];
bool LogBesidePackageLog(const WCHAR *packageLog, WCHAR *log, size_t capacity);

// What a custom action returns for a program's exit code. A custom action can only succeed or
// fail: every failure becomes 1603 for Windows Installer, which then rolls the package back.
struct ActionResult {
    UINT installerCode;   // ERROR_SUCCESS or ERROR_INSTALL_FAILURE
    bool restartNeeded;   // the package ends with 3010 and restarts nothing itself
};

ActionResult MapSetupExit(DWORD code);
ActionResult MapUninstallerExit(DWORD code);

// The meaning of a setup's or uninstaller's exit code, for the Windows Installer log.
const WCHAR *DescribeExit(DWORD code);
