// Versions of the browser: the one this setup installs, the one an existing installation has,
// and the installation state that their comparison selects.
#pragma once
#include <windows.h>

// The version this setup installs: that of the Velmarin.exe it carries, as its payload manifest
// says. Empty when the manifest cannot be read.
const WCHAR *SetupVersion();

// Installation states. The first page follows from them: the welcome page for a fresh
// machine, the downgrade page when a newer browser is installed, the upgrade page otherwise.
enum {
    kStateFresh = 0,            // no installed browser found
    kStateOlderInstalled = 1,   // an older browser, or one whose version is unknown
    kStateSameInstalled = 2,    // the same version: a reinstall
    kStateNewerInstalled = 3,   // a newer browser: installing would be a downgrade
};

// A version as four numbers, major first.
struct BrowserVersion {
    DWORD parts[4];
};

// Reads "a", "a.b", "a.b.c" or "a.b.c.d" (decimal numbers of at most five digits each, missing
// parts 0, surrounding spaces allowed). False for any other text.
bool ParseVersion(const WCHAR *text, BrowserVersion &version);
// Negative, zero or positive as a is older than, equal to or newer than b.
int CompareVersions(const BrowserVersion &a, const BrowserVersion &b);
// The state for an installation found or not and its version text (null or unreadable when
// unknown), compared with the version the setup installs.
int InstallationState(bool installed, const WCHAR *installedVersion, const WCHAR *setupVersion);
// The state's first page: 0 welcome, 3 downgrade, any other value upgrade.
enum FirstPageKind { kFirstWelcome, kFirstUpgrade, kFirstDowngrade };
FirstPageKind FirstPageForState(int state);

// The installed browser's version: the file version of its executable, or where the file has
// none, "DisplayVersion" of the uninstall entry. False when neither is there.
bool ReadInstalledVersion(const WCHAR *browserPath, WCHAR (&version)[64]);
