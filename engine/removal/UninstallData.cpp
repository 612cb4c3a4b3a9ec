// The browser's data in the user's profile: whose it is, and its removal.
#include "engine/removal/Uninstall.h"
#include "base/Format.h"
#include "base/FileSystem.h"
#include "engine/record/InstallRecord.h"
#include "engine/payload/TempFolder.h"
#include <shlobj.h>

DataRemovalRoad ChooseDataRemovalRoad(PSID self, PSID desktopUser, bool elevatedSplitToken)
{
    if (!self || !desktopUser || !IsValidSid(self) || !IsValidSid(desktopUser))
        return kDataRemovedByNobody;
    return EqualSid(self, desktopUser) && !elevatedSplitToken ? kDataRemovedHere : kDataRemovedByHelper;
}

bool UserDataFolder(WCHAR (&folder)[MAX_PATH])
{
    WCHAR appData[MAX_PATH] = L"";
    return SHGetSpecialFolderPathW(NULL, appData, CSIDL_APPDATA, FALSE) && appData[0] &&
           Format(folder, L"%s\\Velmarin", appData);
}

bool RemoveBrowserData(const WCHAR *iniPath, const WCHAR *dataDir, const WCHAR *installDir)
{
    if (iniPath && iniPath[0] && !IsReparsePoint(iniPath))
        DeleteFileW(iniPath);
    bool gone = !iniPath || !iniPath[0] || GetFileAttributesW(iniPath) == INVALID_FILE_ATTRIBUTES;
    // Where the data folder is the install folder (older systems), the ini is all there is.
    if (!dataDir || !dataDir[0] || IsPathWithin(installDir, dataDir) || IsPathWithin(dataDir, installDir))
        return gone;
    // What is in use stays: the user's own profile is no place for removals put off until a restart.
    if (!IsReparsePoint(dataDir))
        RemoveTreeNow(dataDir);
    return gone && GetFileAttributesW(dataDir) == INVALID_FILE_ATTRIBUTES;
}
