#include "deploy/PackageRules.h"
#include "app/Outcomes.h"
#include "base/Format.h"
#include <wchar.h>

const WCHAR kSetupChoosesFolder[] = L"?";

static bool IsSwitch(const WCHAR *value)
{
    return value && (wcscmp(value, L"0") == 0 || wcscmp(value, L"1") == 0);
}

static bool CheckSwitch(const WCHAR *name, const WCHAR *value, WCHAR *reason, size_t capacity)
{
    if (IsSwitch(value))
        return true;
    FormatText(reason, capacity, L"%s=\"%s\" is refused: it takes 0 or 1", name, value ? value : L"");
    return false;
}

bool CheckPackageProperties(const PackageProperties &p, WCHAR *reason, size_t capacity)
{
    if (!CheckSwitch(L"DESKTOP_SHORTCUT", p.desktopShortcut, reason, capacity) ||
        !CheckSwitch(L"QUICKLAUNCH_SHORTCUT", p.quickLaunchShortcut, reason, capacity) ||
        !CheckSwitch(L"DEFAULT_BROWSER", p.defaultBrowser, reason, capacity) ||
        !CheckSwitch(L"CLOSE_BROWSER", p.closeBrowser, reason, capacity))
        return false;
    const WCHAR *folder = p.installDir ? p.installDir : L"";
    if (wcscmp(folder, kSetupChoosesFolder) == 0)
        return true;
    bool blank = true;
    for (const WCHAR *c = folder; *c; ++c) {
        // A line break would end the setup's command line early; a quote or a control character
        // is never part of a folder's name.
        if (*c < 0x20 || *c == 0x7f || *c == L'"') {
            FormatText(reason, capacity, L"INSTALLDIR is refused: it holds a quote or a control character");
            return false;
        }
        if (*c != L' ' && *c != L'\t')
            blank = false;
    }
    if (blank) {
        FormatText(reason, capacity, L"INSTALLDIR is refused: it is empty");
        return false;
    }
    return true;
}

// What every run of the package hands the setup, whatever its properties: silent, and none of
// the running account's own parts (the package's actions run as the machine's account): each
// user gets his at his next logon.
// The machine's account has no parts of its own; a package never puts an older browser over a
// newer one that a later setup installed.
static const WCHAR kPackageRunOptions[] = L"/S /UserParts=0 /Downgrade=0";

bool SetupArguments(const PackageProperties &p, WCHAR *arguments, size_t capacity)
{
    WCHAR folder[MAX_PATH + 8] = L"";
    if (wcscmp(p.installDir, kSetupChoosesFolder) != 0 &&
        !FormatText(folder, ARRAYSIZE(folder), L" /D=%s", p.installDir))
        return false;
    return FormatText(arguments, capacity, L"%s /DesktopShortcut=%s /QuickLaunchShortcut=%s /DefaultBrowser=%s /CloseBrowser=%s%s",
                      kPackageRunOptions, p.desktopShortcut, p.quickLaunchShortcut, p.defaultBrowser, p.closeBrowser,
                      folder);
}

static const WCHAR *SwitchText(int value)
{
    return value == 0 ? L"0" : L"1";
}

PackageProperties MaintenanceProperties(const WCHAR *recordedFolder, const PackageMark &mark)
{
    // An installation the package took over before it kept the choices gets the package's defaults.
    bool kept = mark.owned && mark.desktopShortcut >= 0;
    return {recordedFolder && *recordedFolder ? recordedFolder : kSetupChoosesFolder,
            SwitchText(kept ? mark.desktopShortcut : 1), SwitchText(kept ? mark.quickLaunchShortcut : 1), L"0", L"0"};
}

bool UninstallerArguments(WCHAR *arguments, size_t capacity)
{
    return FormatText(arguments, capacity, L"/S /RemoveData=0");
}

bool WithLogOption(const WCHAR *log, const WCHAR *arguments, WCHAR *line, size_t capacity)
{
    return FormatText(line, capacity, L"/Log=\"%s\" %s", log, arguments);
}

bool FolderOfPackageLog(const WCHAR *packageLog, WCHAR *folder, size_t capacity)
{
    WCHAR drive = packageLog ? (WCHAR)(packageLog[0] | 0x20) : 0;
    if (drive < L'a' || drive > L'z' || packageLog[1] != L':' || packageLog[2] != L'\\')
        return false;
    for (const WCHAR *c = packageLog; *c; ++c) {
        if (*c < 0x20 || *c == L'"')
            return false;
    }
    const WCHAR *name = wcsrchr(packageLog, L'\\') + 1;
    return FormatText(folder, capacity, L"%.*s", (int)(name - packageLog), packageLog);
}

bool IsProductCode(const WCHAR *text)
{
    static const WCHAR shape[] = L"{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (!text || wcslen(text) != ARRAYSIZE(shape) - 1)
        return false;
    for (size_t i = 0; shape[i]; ++i) {
        bool hex = (text[i] >= L'0' && text[i] <= L'9') || (text[i] >= L'A' && text[i] <= L'F');
        if (shape[i] == L'X' ? !hex : text[i] != shape[i])
            return false;
    }
    return true;
}

// A mark that earlier packages left names no ProductCode and kept no choices.
static const WCHAR kUnnamedOwner[] = L"*";

bool FormatPackageMark(const PackageMark &mark, WCHAR *text, size_t capacity)
{
    if (!mark.owned)
        return FormatText(text, capacity, L"-");
    return FormatText(text, capacity, L"%s %d %d", mark.productCode[0] ? mark.productCode : kUnnamedOwner,
                      mark.desktopShortcut, mark.quickLaunchShortcut);
}

static bool ReadChoice(const WCHAR *word, int &choice)
{
    if (wcscmp(word, L"-1") != 0 && wcscmp(word, L"0") != 0 && wcscmp(word, L"1") != 0)
        return false;
    choice = _wtoi(word);
    return true;
}

bool ReadPackageMark(const WCHAR *text, PackageMark &mark)
{
    ZeroMemory(&mark, sizeof(mark));
    if (text && wcscmp(text, L"-") == 0)
        return true;
    // Three words, one blank apart.
    WCHAR words[3][40];
    int count = 0;
    for (const WCHAR *at = text ? text : L"";; ++count) {
        const WCHAR *end = wcschr(at, L' ');
        size_t length = end ? (size_t)(end - at) : wcslen(at);
        if (count == 3 || length == 0 || length >= ARRAYSIZE(words[0]))
            return false;
        wmemcpy(words[count], at, length);
        words[count][length] = 0;
        if (!end) {
            ++count;
            break;
        }
        at = end + 1;
    }
    int desktop = 0, quickLaunch = 0;
    bool named = IsProductCode(words[0]);
    if (count != 3 || (!named && wcscmp(words[0], kUnnamedOwner) != 0) || !ReadChoice(words[1], desktop) ||
        !ReadChoice(words[2], quickLaunch))
        return false;
    mark.owned = true;
    if (named)
        CopyText(mark.productCode, ARRAYSIZE(mark.productCode), words[0]);
    mark.desktopShortcut = desktop;
    mark.quickLaunchShortcut = quickLaunch;
    return true;
}

ActionResult MapSetupExit(DWORD code)
{
    if (code == kOutcomeDone)
        return {ERROR_SUCCESS, false};
    if (code == kOutcomeRestartNeeded)
        return {ERROR_SUCCESS, true};
    if (code == kOutcomeRecordKept)
        return {ERROR_SUCCESS, false};
    return {ERROR_INSTALL_FAILURE, false};
}

ActionResult MapUninstallerExit(DWORD code)
{
    if (code == kOutcomeDone)
        return {ERROR_SUCCESS, false};
    // Files in use stayed (1920) is no success either: nothing removes them at a restart, and
    // with the package's entry gone a deployment tool would count the browser as removed. The
    // package stays, and its next removal takes the rest.
    return {ERROR_INSTALL_FAILURE, false};
}

const WCHAR *DescribeExit(DWORD code)
{
    switch (code) {
    case kOutcomeDone: return L"done";
    case kOutcomeRestartNeeded: return L"installed; files that were in use go at the next restart";
    case kOutcomeBadArguments: return L"an unknown or malformed option";
    case kOutcomeLogRefused: return L"the log file is refused or cannot be opened";
    case kOutcomeFolderRefused: return L"the install folder is refused or cannot be written";
    case kOutcomeBrowserRunning: return L"the browser runs from the install folder (CLOSE_BROWSER=1 ends it)";
    case kOutcomeAnotherSetup: return L"another setup is running, or updating the same folder; try again later";
    case kOutcomeDiskFull: return L"the install or the temporary folder's drive is too small";
    case kOutcomePayloadDamaged: return L"the packed browser files are damaged";
    case kOutcomeCopyFailed: return L"copying failed; the earlier installation, or none, is as it was";
    case kOutcomeNotElevated: return L"started without administrator rights";
    case kOutcomeNewerInstalled: return L"a newer browser is installed; nothing was changed";
    case kOutcomeRecordKept: return L"installed, but the installation record could not be written or merged";
    case kOutcomeNotInstalled: return L"no installation record in the folder";
    case kOutcomeRecordRefused: return L"the record is damaged, or names what is not the browser's";
    case kOutcomeOthersCouldChange: return L"other users could change the install folder, the record or the uninstaller";
    case kOutcomeFilesStayed: return L"files in use stayed; they go when the uninstaller runs again";
    default: return L"an unexpected exit code";
    }
}
