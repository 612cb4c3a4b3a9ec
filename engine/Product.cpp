#include "engine/Product.h"
#include "base/PathNames.h"

const WCHAR kProductWebHost[] = L"www.velmarin.cn";
const WCHAR kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{7B2E91C4-3A5D-4f08-B6E2-91D4C07A5F13}";
const WCHAR kAppPathKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Velmarin.exe";
const WCHAR kClientKey[] = L"SOFTWARE\\Clients\\StartMenuInternet\\Velmarin.exe";
const WCHAR kCapabilitiesKey[] = L"SOFTWARE\\Clients\\StartMenuInternet\\Velmarin.exe\\Capabilities";
const WCHAR kUrlClass[] = L"VelmarinURL";
const WCHAR kUrlClassKey[] = L"SOFTWARE\\Classes\\VelmarinURL";
const WCHAR kActiveSetupKey[] =
    L"SOFTWARE\\Microsoft\\Active Setup\\Installed Components\\{5E0C7A2B-9D41-4C6E-8F3A-2B7D1E64A9C5}";
const WCHAR kUserPartsProgram[] = L"\\VelmarinUser.exe";
const WCHAR kIniSection[] = L"AddUnstall";
const WCHAR kIniKey[] = L"IsSave";

const WCHAR kLongestInstalledFile[] = L"\\Extensions\\GuardHub\\GuardHub.dll";

static const WCHAR *const kOwnRegistryKeys[] = {kUninstallKey, kAppPathKey, kClientKey, kUrlClassKey, kActiveSetupKey};

bool IsOwnRegistryKey(const WCHAR *key)
{
    for (const WCHAR *own : kOwnRegistryKeys) {
        if (IsPathWithin(key, own))
            return true;
    }
    return false;
}

bool IsSharedParentKey(const WCHAR *key)
{
    for (const WCHAR *own : kOwnRegistryKeys) {
        if (IsPathWithin(own, key) && !SameIgnoringCase(own, key))
            return true;
    }
    return false;
}
