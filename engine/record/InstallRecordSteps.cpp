// What the install sequence records of what it did: the folders it made, the files it put in
// place, and the record itself, saved together with what an earlier one named.
#include "app/InstallOptions.h"
#include "base/Format.h"
#include "base/SetupLog.h"
#include "base/FileSystem.h"
#include "engine/update/FileUpdate.h"
#include "engine/payload/PayloadManifest.h"
#include <shlobj.h>
#include <shlwapi.h>

static const WCHAR kNoticeCaption[] = L"提示";
static const WCHAR kEarlierRecordKept[] =
    L"岚舟浏览器已安装完成，但原有的安装记录“VelmarinSetup.record”无法读取或合并，已原样保留。\r\n"
    L"卸载程序可能无法移除本次安装的全部内容。";
static const WCHAR kRecordNotWritten[] =
    L"岚舟浏览器已安装完成，但无法在安装目录中写入安装记录“VelmarinSetup.record”，原有的记录未作改动。\r\n"
    L"卸载程序可能无法移除本次安装的全部内容。";

void CInstallOptions::MakeRecordedFolder(const WCHAR *folder)
{
    if (folder[0] && !PathIsDirectoryW(folder) && CreateDirectoryTree(folder))
        m_record.AddMadeFolder(folder);
}

RecordPlaces CInstallOptions::Places() const
{
    RecordPlaces places = {m_strProgramGroup, m_strCommonStartMenu, m_strCommonDesktop, m_strQuickLaunch,
                           m_strFavorites, L"", L""};
    SHGetSpecialFolderPathW(NULL, places.profile, CSIDL_PROFILE, FALSE);
    // SYSTEM's profile, as the system lists it; where it does not, its usual place.
    WCHAR listed[MAX_PATH] = L"";
    DWORD size = sizeof(listed) - sizeof(WCHAR);
    if (SHGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-18",
                    L"ProfileImagePath", NULL, listed, &size) != ERROR_SUCCESS || !listed[0])
        Copy(listed, L"%SystemRoot%\\system32\\config\\systemprofile");
    DWORD expanded = ExpandEnvironmentStringsW(listed, places.systemProfile, MAX_PATH);
    if (expanded == 0 || expanded > MAX_PATH)
        places.systemProfile[0] = 0;
    return places;
}

void CInstallOptions::RecordCopiedFiles(const CFileUpdate &update)
{
    const CPayloadManifest &manifest = CPayloadManifest::Instance();
    int count = manifest.FileCount(), next = 0;
    for (int i = 0; i < update.StagedCount(); ++i) {
        const WCHAR *relative = update.StagedFile(i);
        const ManifestFile *known = NULL;
        // The two lists mostly share their order: each search starts after the last file found.
        for (int looked = 0; looked < count && !known; ++looked, next = (next + 1) % count) {
            if (lstrcmpiW(manifest.File(next).relative, relative) == 0)
                known = &manifest.File(next);
        }
        if (known) {
            m_record.AddFile(relative, known->size, known->sha256);
            continue;
        }
        // Not in the manifest: recorded as it is now in the install folder.
        WCHAR path[MAX_PATH];
        ULONGLONG size = 0;
        BYTE sha256[32];
        if (Format(path, L"%s%s", m_strInstallDir, relative) && HashFileContents(path, size, sha256))
            m_record.AddFile(relative, size, sha256);
    }
}

bool CInstallOptions::SaveInstallRecord()
{
    // An earlier record names what earlier installations wrote: one that cannot be read or merged
    // stays as it is rather than being replaced by a record that forgets it.
    CInstallRecord older;
    RecordLoadResult loaded = kRecordMissing;
    if (m_bEarlierRecordUntrusted)
        LogStep(L"原有的安装记录可能经其他用户改动，未予采用");
    else
        loaded = older.Load(m_strInstallDir, Places());
    if (loaded != kRecordMissing && (loaded != kRecordValid || !m_record.Merge(older))) {
        LogStep(L"原有的安装记录无法读取或合并，已原样保留");
        ShowMessage(NULL, kEarlierRecordKept, kNoticeCaption, MB_OK | MB_ICONWARNING);
        return false;
    }
    m_record.SetFolder(m_strInstallDir, m_bMadeInstallDir || older.MadeFolder());
    if (m_record.Save(m_strInstallDir))
        return true;
    LogFailure(GetLastError(), L"未能写入安装记录，原有的记录未作改动");
    ShowMessage(NULL, kRecordNotWritten, kNoticeCaption, MB_OK | MB_ICONWARNING);
    return false;
}
