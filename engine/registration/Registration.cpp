#include "engine/Product.h"
#include "engine/registration/Registry.h"
#include "base/FileSystem.h"
#include "engine/record/InstallRecord.h"
#include "engine/payload/PayloadManifest.h"
#include "app/InstallOptions.h"
#include "base/SetupText.h"
#include "app/Versions.h"
#include "base/Format.h"

void CInstallOptions::RecordMissingKeys(HKEY root, const WCHAR *key)
{
    WCHAR prefix[MAX_PATH];
    if (!Copy(prefix, key))
        return;
    // Every key on the way that does not exist yet is made by the write that follows. Only the
    // browser's own count as made: a shared parent (SOFTWARE\Clients\StartMenuInternet on a
    // fresh system, say) belongs to every program that will ever write there.
    for (WCHAR *at = prefix;; ++at) {
        if (*at != L'\\' && *at != 0)
            continue;
        WCHAR kept = *at;
        *at = 0;
        HKEY opened = NULL;
        if (RegOpenKeyExW(root, prefix, 0, KEY_READ, &opened) == ERROR_SUCCESS)
            RegCloseKey(opened);
        else if (IsOwnRegistryKey(prefix))
            m_record.AddMadeKey(root, prefix);
        *at = kept;
        if (!kept)
            break;
    }
}

void CInstallOptions::WriteRecordedString(HKEY root, const WCHAR *key, const WCHAR *name, const WCHAR *value)
{
    RecordMissingKeys(root, key);
    if (WriteRegString(root, key, name, value))
        m_record.AddValue(root, key, name, REG_SZ, value);
}

void CInstallOptions::WriteRecordedDword(HKEY root, const WCHAR *key, const WCHAR *name, DWORD value)
{
    RecordMissingKeys(root, key);
    WCHAR text[16];
    Format(text, L"%lu", (unsigned long)value);
    if (WriteRegDword(root, key, name, value))
        m_record.AddValue(root, key, name, REG_DWORD, text);
}

void CInstallOptions::RegisterCapabilities()
{
    const HKEY hklm = HKEY_LOCAL_MACHINE;
    WriteRecordedString(hklm, kCapabilitiesKey, L"ApplicationDescription",
                   L"岚舟浏览器是一款小巧快速、安全稳定的绿色浏览器。贴心的浏览器静音、智能地址栏、内建下载等功能带给您轻松、愉快的上网体验。");
    WriteRecordedString(hklm, kCapabilitiesKey, L"ApplicationName", L"Velmarin Browser");
    const WCHAR *extensions[] = {L".htm", L".html", L".mht", L".mhtml"};
    for (const WCHAR *extension : extensions)
        WriteRecordedString(hklm, kCapabilitiesKey, extension, kUrlClass);
    WriteRecordedString(hklm, L"SOFTWARE\\RegisteredApplications", L"Velmarin.exe", kCapabilitiesKey);

    WCHAR key[MAX_PATH];
    Format(key, L"%s\\StartMenu", kCapabilitiesKey);
    WriteRecordedString(hklm, key, L"StartMenuInternet", L"Velmarin.exe");
    Format(key, L"%s\\URLAssociations", kCapabilitiesKey);
    const WCHAR *schemes[] = {L"http", L"https", L"file"};
    for (const WCHAR *scheme : schemes)
        WriteRecordedString(hklm, key, scheme, kUrlClass);

    // The machine's classes by name: HKEY_CLASSES_ROOT is the elevated user's merged view, and
    // writes there land in that user's own classes wherever the key exists for him.
    WCHAR systemDir[MAX_PATH] = {};
    GetSystemDirectoryW(systemDir, MAX_PATH);
    WCHAR value[MAX_PATH];
    Format(value, L"%s\\url.dll,0", systemDir);
    Format(key, L"%s\\DefaultIcon", kUrlClassKey);
    WriteRecordedString(hklm, key, L"", value);
    WriteRecordedString(hklm, kUrlClassKey, L"", kUrlClass);
    Format(key, L"%s\\shell", kUrlClassKey);
    WriteRecordedString(hklm, key, L"", L"open");
    Format(key, L"%s\\shell\\open", kUrlClassKey);
    WriteRecordedString(hklm, key, L"", L"");
    Format(value, L"\"%s\\Velmarin.exe\" \"%%1\"", m_strInstallDir);
    Format(key, L"%s\\shell\\open\\command", kUrlClassKey);
    WriteRecordedString(hklm, key, L"", value);
}

void CInstallOptions::WriteUninstallEntry()
{
    const HKEY hklm = HKEY_LOCAL_MACHINE;
    WCHAR value[MAX_PATH];
    Format(value, L"%s", kProductDisplayName);
    WriteRecordedString(hklm, kUninstallKey, L"DisplayName", value);
    // The system runs this as a command line with administrator rights: quoted.
    Format(value, L"\"%s\\%s\"", m_strInstallDir, L"UnInst.exe");
    WriteRecordedString(hklm, kUninstallKey, L"UninstallString", value);
    Format(value, L"\"%s\\%s\" /S", m_strInstallDir, L"UnInst.exe");
    WriteRecordedString(hklm, kUninstallKey, L"QuietUninstallString", value);
    WriteRecordedString(hklm, kUninstallKey, L"DisplayVersion", SetupVersion());
    WriteRecordedString(hklm, kUninstallKey, L"Publisher", L"青石工作室");
    Format(value, L"http://%s/vm3/index.htm", kProductWebHost);
    WriteRecordedString(hklm, kUninstallKey, L"HelpLink", value);
    WriteRecordedString(hklm, kUninstallKey, L"InstallLocation", m_strInstallDir);

    Format(value, L"%s\\Velmarin.exe,0", m_strInstallDir);
    WriteRecordedString(hklm, kUninstallKey, L"DisplayIcon", value);
    // The size of the file set as the build measured it: the install folder may be a whole drive.
    ULONGLONG bytes = CPayloadManifest::Instance().TotalSize();
    WriteRecordedDword(hklm, kUninstallKey, L"EstimatedSize", (DWORD)((bytes + 1023) / 1024));
    SYSTEMTIME today;
    GetLocalTime(&today);
    Format(value, L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    WriteRecordedString(hklm, kUninstallKey, L"InstallDate", value);
    WriteRecordedDword(hklm, kUninstallKey, L"NoModify", 1);
    WriteRecordedDword(hklm, kUninstallKey, L"NoRepair", 1);
}

void CInstallOptions::WriteAppPath()
{
    WCHAR value[MAX_PATH];
    Format(value, L"%s\\Velmarin.exe", m_strInstallDir);
    WriteRecordedString(HKEY_LOCAL_MACHINE, kAppPathKey, L"", value);
    WriteRecordedString(HKEY_LOCAL_MACHINE, kAppPathKey, L"Path", m_strInstallDir);
}

void CInstallOptions::RegisterWithSystem()
{
    if (RegistersCapabilities(m_nOsVersion, m_dwRealVersion))
        RegisterCapabilities();
    WriteUninstallEntry();
    WriteAppPath();
    RegisterUserParts();
}
