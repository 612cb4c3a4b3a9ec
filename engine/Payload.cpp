#include "engine/Payload.h"
#include "engine/CommandLines.h"
#include "engine/PayloadManifest.h"
#include "engine/Process.h"
#include "engine/TempFolder.h"
#include "app/InstallOptions.h"
#include "base/Format.h"
#include "base/SetupLog.h"

bool WriteResourceToFile(const WCHAR *path, const WCHAR *type, const WCHAR *name)
{
    if (!path || !type || !name)
        return false;
    HMODULE module = GetModuleHandleW(NULL);
    HRSRC found = FindResourceW(module, name, type);
    HGLOBAL loaded = found ? LoadResource(module, found) : NULL;
    if (!loaded)
        return false;
    const void *bytes = LockResource(loaded);
    DWORD size = SizeofResource(module, found);
    // CREATE_NEW: never write into a file that someone else put there first.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        FreeResource(loaded);
        return false;
    }
    DWORD written = 0;
    bool ok = bytes && WriteFile(file, bytes, size, &written, NULL) && written == size;
    CloseHandle(file);
    FreeResource(loaded);
    if (!ok)
        DeleteFileW(path);
    return ok;
}

ULONGLONG DriveShortfall(const WCHAR *folder, ULONGLONG bytes, int fileCount)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(folder, &available, NULL, NULL))
        return 0;
    ULONGLONG needed = bytes + (ULONGLONG)(fileCount > 0 ? fileCount : 0) * 4096;
    return available.QuadPart >= needed ? 0 : needed - available.QuadPart;
}

BOOL CInstallOptions::ExtractPayload()
{
    DWORD tick = GetTickCount();
    WCHAR tempPath[MAX_PATH];
    DWORD len = GetTempPathW(MAX_PATH, tempPath);
    m_strTempRoot[0] = m_strExtractDir[0] = 0;
    if (len == 0 || len >= MAX_PATH)
        return FALSE;
    if (!CreateFreshTempRoot(tempPath, (int)tick, m_strTempRoot))
        return FALSE;
    m_hTempRootLock = LockFolder(m_strTempRoot);
    // A full drive would leave a partial extraction that looks like a damaged setup: the user
    // is told what is missing instead, and nothing is written.
    HMODULE module = GetModuleHandleW(NULL);
    HRSRC packed = FindResourceW(module, MAKEINTRESOURCEW(kPayloadResourceId), L"BIN");
    const CPayloadManifest &manifest = CPayloadManifest::Instance();
    m_ullTempShortfall = DriveShortfall(m_strTempRoot, (packed ? SizeofResource(module, packed) : 0) + manifest.TotalSize(),
                                        manifest.FileCount() + 1);
    if (m_ullTempShortfall > 0)
        return FALSE;

    WCHAR payload[MAX_PATH];
    if (!Format(payload, L"%s\\velmarin3zip.exe", m_strTempRoot))
        return FALSE;
    if (!WriteResourceToFile(payload, L"BIN", MAKEINTRESOURCEW(kPayloadResourceId)))
        return FALSE;
    if (!Format(m_strExtractDir, L"%s\\Velmarin 3", m_strTempRoot)) {
        m_strExtractDir[0] = 0;
        return FALSE;
    }
    CreateDirectoryW(m_strExtractDir, NULL);
    m_hExtractLock = LockFolder(m_strExtractDir);
    if (m_hTempRootLock == INVALID_HANDLE_VALUE || m_hExtractLock == INVALID_HANDLE_VALUE)
        return FALSE;

    WCHAR commandLine[kCommandLineChars];
    if (!FormPayloadCommandLine(commandLine, kCommandLineChars, payload, m_strExtractDir))
        return FALSE;
    HANDLE process = StartCommandLine(commandLine, SW_HIDE);
    if (!process)
        return FALSE;
    // The unpacked files are checked against the manifest as they come, while the user reads
    // the first page, not when the installation starts.
    CExtractionCheck check(m_strExtractDir, CPayloadManifest::Instance());
    while (WaitForSingleObject(process, check.CheckWrittenFiles() ? 0 : 20) == WAIT_TIMEOUT) {
    }
    CloseHandle(process);
    m_nPayloadCheck = check.Finish() ? kPayloadMatches : kPayloadDiffers;
    return TRUE;
}

void CInstallOptions::LaunchBrowser(bool run)
{
    if (run) {
        // The user browses with their own rights, not the setup's: the desktop shell starts the
        // browser where it can; elsewhere (no shell, a kiosk) it starts with the Administrators
        // group denying only, or not at all.
        WCHAR browser[MAX_PATH], commandLine[kCommandLineChars];
        bool started = Format(browser, L"%s\\velmarin.exe", m_strInstallDir) &&
                       ShellExecuteAsDesktopUser(browser, NULL, m_strInstallDir, SW_SHOWNORMAL);
        if (!started && !(FormLaunchCommandLine(commandLine, kCommandLineChars, m_strInstallDir) &&
                          StartWithoutAdministratorRights(commandLine, SW_SHOW)))
            ShowMessage(NULL, L"岚舟浏览器已安装完成，但安装程序无法以您自己的权限启动它；为了安全，没有以管理员权限启动。"
                              L"请从桌面或开始菜单启动岚舟浏览器。",
                        L"提示", MB_OK | MB_ICONINFORMATION);
    }
    PostFinished();
}

void CInstallOptions::ScheduleTempCleanup()
{
    HANDLE *locks[] = {&m_hExtractLock, &m_hTempRootLock};
    for (HANDLE *lock : locks) {
        if (*lock != INVALID_HANDLE_VALUE)
            CloseHandle(*lock);
        *lock = INVALID_HANDLE_VALUE;
    }
    // The system removes only empty folders at restart, so take away what can go now and
    // schedule the rest, contents before their folders.
    RemoveTreeOrScheduleAtRestart(m_strTempRoot);
}
