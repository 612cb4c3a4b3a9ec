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

// The package's mark on the setup's record: which package owns the installation, and the shortcut
// choices of its first installation, which its repairs make again. As CustomActionData it is one
// line, "<ProductCode> <desktop 0|1> <quick launch 0|1>", or "-" for no owner.
struct PackageMark {
    bool owned;
    WCHAR productCode[39];
    int desktopShortcut;
    int quickLaunchShortcut;
};
bool FormatPackageMark(const PackageMark &mark, WCHAR *text, size_t capacity);
// False, and `mark` unowned, for a text that is no mark.
bool ReadPackageMark(const WCHAR *text, PackageMark &mark);
// Whether `text` is a ProductCode: a GUID in braces, upper-case as Windows Installer writes it.
bool IsProductCode(const WCHAR *text);

// The silent setup's arguments (without the program and its log) for checked properties; false
// when they do not fit. The folder comes last, where the setup takes the rest of the line.
bool SetupArguments(const PackageProperties &properties, WCHAR *arguments, size_t capacity);

// What a run other than a first installation (a repair, a reinstallation) hands the setup: the
// folder the setup's record names (null or empty: none, the setup then takes its default) and the
// shortcut choices the package's mark keeps. Nothing comes from the caller, who may be any user
// starting a repair of the machine's package: the browser is never made the default and a
// running browser is never ended.
PackageProperties MaintenanceProperties(const WCHAR *recordedFolder, const PackageMark &mark);

// The silent uninstaller's arguments (without its log): browsing data stays, as the machine's
// account has no user's data to remove.
bool UninstallerArguments(WCHAR *arguments, size_t capacity);

// `arguments` with the programs' log put first: the setup's folder must stay last.
bool WithLogOption(const WCHAR *log, const WCHAR *arguments, WCHAR *line, size_t capacity);

// The folder of the package's own log `packageLog` (Windows Installer's MsiLogFileLocation), with
// its closing backslash, where the programs' log is made; false when that is no full local path:
// the programs take no network path for a log, and a relative one would lead elsewhere from the
// custom actions' folder.
bool FolderOfPackageLog(const WCHAR *packageLog, WCHAR *folder, size_t capacity);

// What a custom action returns for a program's exit code. A custom action can only succeed or
// fail: every failure becomes 1603 for Windows Installer, which then rolls the package back. The
// setup's 1610 succeeds: the browser is installed, and rolling the package back would leave it
// in place all the same, owned by no package.
struct ActionResult {
    UINT installerCode;   // ERROR_SUCCESS or ERROR_INSTALL_FAILURE
    bool restartNeeded;   // the package ends with 3010 and restarts nothing itself
};

ActionResult MapSetupExit(DWORD code);
ActionResult MapUninstallerExit(DWORD code);

// The meaning of a setup's or uninstaller's exit code, for the Windows Installer log.
const WCHAR *DescribeExit(DWORD code);
