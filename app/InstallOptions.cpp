#include "app/InstallOptions.h"
#include "engine/Product.h"
#include "base/Format.h"
#include "app/Versions.h"
#include "app/Outcomes.h"
#include "engine/removal/Uninstall.h"
#include <shlobj.h>
#include <shlwapi.h>
#include <wchar.h>

static int g_osVersionCache = -1;

int ClassifyOsVersion(DWORD platformId, DWORD major, DWORD minor, const WCHAR *servicePack)
{
    if (platformId != VER_PLATFORM_WIN32_NT)
        return kOsUnknown;
    const WCHAR *sp = servicePack ? servicePack : L"";
    bool sp1 = _wcsnicmp(sp, L"Service Pack 1", 127) == 0;
    bool sp2 = _wcsnicmp(sp, L"Service Pack 2", 127) == 0;
    bool sp3 = _wcsnicmp(sp, L"Service Pack 3", 127) == 0;
    if (major == 5) {
        if (minor == 0)
            return kOsWindows2000;
        if (minor == 1)
            return sp1 ? kOsWindowsXPSP1 : sp2 ? kOsWindowsXPSP2 : sp3 ? kOsWindowsXPSP3 : kOsWindowsXP;
        if (minor == 2)
            return kOsWindowsServer2003;
        return kOsUnknown;
    }
    if (major == 6) {
        if (minor == 0)
            return (sp1 || sp2) ? kOsWindowsVistaSP1 : kOsWindowsVista;
        if (minor == 1)
            return kOsWindows7;
        return kOsUnknown;
    }
    if (major == 7)
        return kOsWindows7;
    return kOsUnknown;
}

int GetOsVersionCode()
{
    if (g_osVersionCache != -1)
        return g_osVersionCache;
    g_osVersionCache = kOsUnknown;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (GetVersionExW(&info))
        g_osVersionCache = ClassifyOsVersion(info.dwPlatformId, info.dwMajorVersion,
                                             info.dwMinorVersion, info.szCSDVersion);
    return g_osVersionCache;
}

DWORD GetRealWindowsVersion()
{
    static DWORD cached = 0;
    if (cached)
        return cached;
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW *);
    RtlGetVersionFn getVersion =
        (RtlGetVersionFn)(void *)GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if ((getVersion && getVersion(&info) == 0) || GetVersionExW(&info))
        cached = MAKEWORD(info.dwMinorVersion, info.dwMajorVersion);
    return cached;
}

bool RegistersCapabilities(int osCode, DWORD realVersion)
{
    return osCode > kOsWindowsServer2003 || (osCode == kOsUnknown && realVersion >= MAKEWORD(2, 6));
}

CInstallOptions &CInstallOptions::Instance()
{
    // Built on first use and never freed: the worker may still read it while the process ends.
    static CInstallOptions *instance = new CInstallOptions();
    return *instance;
}

CInstallOptions::CInstallOptions()
    : m_nOsVersion(GetOsVersionCode()), m_dwRealVersion(GetRealWindowsVersion()), m_nState(0), m_hProgressWnd(NULL),
      m_bExtractionProtected(false),
      m_bDefaultBrowser(1), m_bDesktopShortcut(1), m_bQuickLaunch(1), m_bUserParts(true), m_bMadeInstallDir(false), m_bEarlierRecordUntrusted(false),
      m_hTempRootLock(INVALID_HANDLE_VALUE),
      m_hExtractLock(INVALID_HANDLE_VALUE), m_hBrowserRuns(NULL), m_bTempRootLeftForRestart(false),
      m_hOwnAccount(NULL), m_bOwnAccountTried(false),
      m_nCloseRequested(0),
      m_nPayloadCheck(kPayloadNotChecked), m_ullTempShortfall(0), m_nOutcome(kOutcomeCancelled)
{
    m_strTempRoot[0] = m_strExtractDir[0] = m_strInstallDir[0] = m_strDataDir[0] = 0;
    m_strProgramGroup[0] = m_strCommonStartMenu[0] = m_strCommonDesktop[0] = 0;
    m_strQuickLaunch[0] = m_strFavorites[0] = m_strIniPath[0] = 0;
}

CInstallOptions::~CInstallOptions()
{
    ForgetOwnAccountToken();
}

static void SpecialFolder(int csidl, WCHAR (&folder)[MAX_PATH])
{
    folder[0] = 0;
    SHGetSpecialFolderPathW(NULL, folder, csidl, FALSE);
}

void CInstallOptions::DetectFolders()
{
    WCHAR path[MAX_PATH] = {};
    DWORD size = sizeof(path) - sizeof(WCHAR);
    DWORD type = 0;
    bool existing = SHGetValueW(HKEY_LOCAL_MACHINE, kAppPathKey, NULL, &type, path, &size) == ERROR_SUCCESS &&
                    (type == REG_SZ || type == REG_EXPAND_SZ) && path[0] && PathFileExistsW(path);
    m_nState = kStateFresh;
    if (existing) {
        WCHAR version[64];
        bool known = ReadInstalledVersion(path, version);
        m_nState = InstallationState(true, known ? version : NULL, SetupVersion());
        PathRemoveFileSpecW(path);
        Copy(m_strInstallDir, path);
    } else {
        WCHAR programFiles[MAX_PATH];
        SpecialFolder(CSIDL_PROGRAM_FILES, programFiles);
        Format(m_strInstallDir, L"%s\\Velmarin 3", programFiles);
    }

    if (!DataInProfile()) {
        Copy(m_strDataDir, m_strInstallDir);
    } else {
        if (!UserDataFolder(m_strDataDir))
            m_strDataDir[0] = 0;
    }

    // A folder below one the shell does not name is none either: "\\岚舟浏览器" would be a
    // folder of the current drive's root.
    WCHAR folder[MAX_PATH];
    SpecialFolder(CSIDL_COMMON_PROGRAMS, folder);
    if (!folder[0] || !Format(m_strProgramGroup, L"%s\\%s", folder, L"岚舟浏览器"))
        m_strProgramGroup[0] = 0;
    SpecialFolder(CSIDL_COMMON_STARTMENU, m_strCommonStartMenu);
    SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY, m_strCommonDesktop);

    folder[0] = 0;
    LPITEMIDLIST idList = NULL;
    if (SUCCEEDED(SHGetSpecialFolderLocation(NULL, CSIDL_APPDATA, &idList)) && idList) {
        SHGetPathFromIDListW(idList, folder);
        CoTaskMemFree(idList);
    }
    if (!folder[0] || !Format(m_strQuickLaunch, L"%s\\Microsoft\\Internet Explorer\\Quick Launch", folder))
        m_strQuickLaunch[0] = 0;
    SpecialFolder(CSIDL_FAVORITES, m_strFavorites);
    if (!m_strDataDir[0] || !Format(m_strIniPath, L"%s\\Velmarin.ini", m_strDataDir))
        m_strIniPath[0] = 0;
}

bool CInstallOptions::ReadDefaultBrowserSetting() const
{
    return GetPrivateProfileIntW(L"option", L"DefaultBrowser", 0, m_strIniPath) == 1;
}
