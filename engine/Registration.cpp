#include "engine/Product.h"
#include "engine/Registry.h"
#include "engine/FileSystem.h"
#include "engine/PayloadManifest.h"
#include "app/InstallOptions.h"
#include "base/SetupText.h"
#include "app/Versions.h"
#include "base/Format.h"
#include <shlobj.h>

const WCHAR kProductWebHost[] = L"www.velmarin.cn";
const WCHAR kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7B2E91C4-3A5D-4f08-B6E2-91D4C07A5F13}";
const WCHAR kAppPathKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velmarin.exe";
const WCHAR kClientKey[] = L"SOFTWARE\\Clients\\StartMenuInternet\\Velmarin.exe";
const WCHAR kCapabilitiesKey[] = L"SOFTWARE\\Clients\\StartMenuInternet\\Velmarin.exe\\Capabilities";
const WCHAR kUrlClass[] = L"VelmarinURL";

void CInstallOptions::RegisterCapabilities()
{
    const HKEY hklm = HKEY_LOCAL_MACHINE;
    WriteRegString(hklm, kCapabilitiesKey, L"ApplicationDescription",
                   L"岚舟浏览器是一款小巧快速、安全稳定的绿色浏览器。贴心的浏览器静音、智能地址栏、内建下载等功能带给您轻松、愉快的上网体验。");
    WriteRegString(hklm, kCapabilitiesKey, L"ApplicationName", L"Velmarin Browser");
    const WCHAR *extensions[] = {L".htm", L".html", L".mht", L".mhtml"};
    for (const WCHAR *extension : extensions)
        WriteRegString(hklm, kCapabilitiesKey, extension, kUrlClass);
    WriteRegString(hklm, L"SOFTWARE\\RegisteredApplications", L"Velmarin.exe", kCapabilitiesKey);

    WCHAR key[MAX_PATH];
    Format(key, L"%s\\StartMenu", kCapabilitiesKey);
    WriteRegString(hklm, key, L"StartMenuInternet", L"Velmarin.exe");
    Format(key, L"%s\\URLAssociations", kCapabilitiesKey);
    const WCHAR *schemes[] = {L"http", L"https", L"file"};
    for (const WCHAR *scheme : schemes)
        WriteRegString(hklm, key, scheme, kUrlClass);

    const HKEY hkcr = HKEY_CLASSES_ROOT;
    WCHAR systemDir[MAX_PATH] = {};
    GetSystemDirectoryW(systemDir, MAX_PATH);
    WCHAR value[MAX_PATH];
    Format(value, L"%s\\url.dll,0", systemDir);
    WriteRegString(hkcr, L"VelmarinURL\\DefaultIcon", L"", value);
    WriteRegString(hkcr, kUrlClass, L"", kUrlClass);
    WriteRegString(hkcr, L"VelmarinURL\\shell", L"", L"open");
    WriteRegString(hkcr, L"VelmarinURL\\shell\\open", L"", L"");
    Format(value, L"\"%s\\Velmarin.exe\" \"%%1\"", m_strInstallDir);
    WriteRegString(hkcr, L"VelmarinURL\\shell\\open\\command", L"", value);
}

void CInstallOptions::WriteUninstallEntry()
{
    const HKEY hklm = HKEY_LOCAL_MACHINE;
    WCHAR value[MAX_PATH];
    Format(value, L"%s", kProductDisplayName);
    WriteRegString(hklm, kUninstallKey, L"DisplayName", value);
    // The system runs this as a command line with administrator rights: quoted.
    Format(value, L"\"%s\\%s\"", m_strInstallDir, L"UnInst.exe");
    WriteRegString(hklm, kUninstallKey, L"UninstallString", value);
    WriteRegString(hklm, kUninstallKey, L"DisplayVersion", SetupVersion());
    WriteRegString(hklm, kUninstallKey, L"Publisher", L"青石工作室");
    Format(value, L"http://%s/vm3/index.htm", kProductWebHost);
    WriteRegString(hklm, kUninstallKey, L"HelpLink", value);
    WriteRegString(hklm, kUninstallKey, L"InstallLocation", m_strInstallDir);

    Format(value, L"%s\\Velmarin.exe,0", m_strInstallDir);
    WriteRegString(hklm, kUninstallKey, L"DisplayIcon", value);
    // The size of the file set as the build measured it: the install folder may be a whole drive.
    ULONGLONG bytes = CPayloadManifest::Instance().TotalSize();
    WriteRegDword(hklm, kUninstallKey, L"EstimatedSize", (DWORD)((bytes + 1023) / 1024));
    SYSTEMTIME today;
    GetLocalTime(&today);
    Format(value, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    WriteRegString(hklm, kUninstallKey, L"InstallDate", value);
    WriteRegDword(hklm, kUninstallKey, L"NoModify", 1);
    WriteRegDword(hklm, kUninstallKey, L"NoRepair", 1);
}

void CInstallOptions::WriteAppPath()
{
    WCHAR value[MAX_PATH];
    Format(value, L"%s\\Velmarin.exe", m_strInstallDir);
    WriteRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L"", value);
    WriteRegString(HKEY_LOCAL_MACHINE, kAppPathKey, L"Path", m_strInstallDir);
}

void CInstallOptions::RegisterWithSystem()
{
    if (m_nOsVersion > kOsWindowsServer2003)
        RegisterCapabilities();
    WriteUninstallEntry();
    WriteAppPath();
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);
}
