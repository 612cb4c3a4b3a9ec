// VelmarinUser.exe, each user's own parts of an installation of the browser. Windows runs it at
// a user's next logon after an installation or update (Active Setup), once per version, as that
// user and without elevation, from the install folder, which only administrators may change:
//     VelmarinUser.exe [/QuickLaunchShortcut=0|1]
// It makes the user's links bar with its three Internet shortcuts, the quick-launch link where
// the installation chose it (the 3.0 versions' link there goes), and takes the installation's
// mark ("IsSave") out of the browser's settings in the user's data folder, as the setup does for
// the person who installs. Nothing else is changed, nothing shown; it always ends with 0, as
// Windows counts the user served whatever it answers.
#include "app/Arguments.h"
#include "app/InstallOptions.h"
#include "base/DllSafety.h"
#include "base/Format.h"
#include "engine/Product.h"
#include "engine/shortcuts/Shortcuts.h"
#include <objbase.h>
#include <shlwapi.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    RestrictDllSearchToSystem();
    Arguments arguments;
    ReadArguments(SkipProgramName(GetCommandLineW()), kSetupArguments, arguments);
    // The installation this program belongs to is the one it lies in.
    WCHAR installDir[MAX_PATH], browser[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, installDir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !PathRemoveFileSpecW(installDir) ||
        !Format(browser, L"%s\\Velmarin.exe", installDir))
        return 0;
    CInstallOptions &options = CInstallOptions::Instance();
    options.DetectFolders();

    LinkFile links[kLinkBarFiles + 1];
    WCHAR urls[kLinkBarFiles][MAX_PATH], folder[MAX_PATH];
    int count = LinkBarFiles(options.m_strFavorites, links, urls);
    if (count && Format(folder, L"%s\\LinkBar", options.m_strFavorites))
        CreateDirectoryW(folder, NULL);
    // A missing quick-launch folder is not made, as the setup does not make it.
    const WCHAR *quickLaunch = options.m_strQuickLaunch;
    if (arguments.quickLaunchShortcut == 1 && quickLaunch[0] && PathIsDirectoryW(quickLaunch)) {
        if (Format(folder, L"%s\\%s", quickLaunch, kOldBrowserLinkName))
            DeleteFileW(folder);
        LinkFile &link = links[count];
        if (Format(link.path, L"%s\\%s", quickLaunch, kBrowserLinkName)) {
            link.target = browser;
            link.arguments = link.url = NULL;
            link.accountsOwn = false;
            link.accountToken = NULL;
            ++count;
        }
    }
    HRESULT initialised = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    WriteLinkFiles(links, count);
    if (SUCCEEDED(initialised))
        CoUninitialize();

    // From Vista on the settings lie in the user's profile; before, beside the browser, where the
    // installation itself has taken the mark out for everyone.
    WCHAR ini[MAX_PATH];
    if (options.m_nOsVersion > kOsWindowsServer2003 && options.m_strDataDir[0] &&
        Format(ini, L"%s\\Velmarin.ini", options.m_strDataDir) && PathFileExistsW(ini))
        WritePrivateProfileStringW(kIniSection, kIniKey, NULL, ini);
    return 0;
}
