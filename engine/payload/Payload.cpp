#include "engine/payload/Payload.h"
#include "engine/process/CommandLines.h"
#include "engine/payload/PayloadManifest.h"
#include "engine/process/Process.h"
#include "engine/shortcuts/Shortcuts.h"
#include "engine/payload/TempFolder.h"
#include "app/InstallOptions.h"
#include "base/Format.h"
#include "base/SetupLog.h"

bool FindResourceBytes(const WCHAR *type, const WCHAR *name, const void *&bytes, DWORD &size)
{
    HMODULE module = GetModuleHandleW(NULL);
    HRSRC found = FindResourceW(module, name, type);
    HGLOBAL loaded = found ? LoadResource(module, found) : NULL;
    bytes = loaded ? LockResource(loaded) : NULL;
    size = bytes ? SizeofResource(module, found) : 0;
    return bytes != NULL;
}

bool WriteResourceToFile(const WCHAR *path, const WCHAR *type, const WCHAR *name)
{
    const void *bytes = NULL;
    DWORD size = 0;
    if (!path || !type || !name || !FindResourceBytes(type, name, bytes, size))
        return false;
    // CREATE_NEW: never write into a file that someone else put there first.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes, size, &written, NULL) && written == size;
    CloseHandle(file);
    if (!ok)
        DeleteFileW(path);
    return ok;
}

HANDLE HoldFileWithContents(const WCHAR *path, const void *bytes, DWORD size)
{
    // Only reading is shared: nobody can write, rename or delete the file while it is held.
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    bool same = GetFileInformationByHandle(file, &info) &&
                !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
                info.nFileSizeHigh == 0 && info.nFileSizeLow == size;
    BYTE buffer[16384];
    for (DWORD at = 0; same && at < size;) {
        DWORD read = 0, wanted = size - at < sizeof(buffer) ? size - at : (DWORD)sizeof(buffer);
        same = ReadFile(file, buffer, wanted, &read, NULL) && read == wanted &&
               memcmp(buffer, (const BYTE *)bytes + at, read) == 0;
        at += read;
    }
    if (!same) {
        CloseHandle(file);
        SetLastError(ERROR_FILE_CORRUPT);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

HANDLE WriteResourceAndHold(const WCHAR *path, const WCHAR *type, const WCHAR *name)
{
    const void *bytes = NULL;
    DWORD size = 0;
    if (!WriteResourceToFile(path, type, name) || !FindResourceBytes(type, name, bytes, size))
        return INVALID_HANDLE_VALUE;
    return HoldFileWithContents(path, bytes, size);
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
    m_strTempRoot[0] = m_strExtractDir[0] = 0;
    m_bExtractionProtected = false;
    m_hTempRootLock = CreateHeldWindowsTempRoot(m_strTempRoot);
    if (m_hTempRootLock == INVALID_HANDLE_VALUE) {
        m_strTempRoot[0] = 0;
        return FALSE;
    }
    // A full drive would leave a partial extraction that looks like a damaged setup: the user
    // is told what is missing instead, and nothing is written. The payload program, which
    // carries its packed stream, and the files it unpacks straight into their places.
    HMODULE module = GetModuleHandleW(NULL);
    HRSRC packed = FindResourceW(module, MAKEINTRESOURCEW(kPayloadResourceId), L"BIN");
    const CPayloadManifest &manifest = CPayloadManifest::Instance();
    m_ullTempShortfall = DriveShortfall(m_strTempRoot, (packed ? SizeofResource(module, packed) : 0) + manifest.TotalSize(),
                                        manifest.FileCount() + 2);
    if (m_ullTempShortfall > 0)
        return FALSE;

    // The payload program is held from its read-back until it has run and its files are
    // checked: what runs elevated is what this setup carries.
    WCHAR payload[MAX_PATH];
    if (!Format(payload, L"%s\\velmarin3zip.exe", m_strTempRoot))
        return FALSE;
    HANDLE held = WriteResourceAndHold(payload, L"BIN", MAKEINTRESOURCEW(kPayloadResourceId));
    if (held == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL extracted = FALSE;
    if (Format(m_strExtractDir, L"%s\\Velmarin 3", m_strTempRoot) &&
        (m_hExtractLock = CreateHeldFolderOnlyAdministratorsChange(m_strExtractDir)) != INVALID_HANDLE_VALUE) {
        extracted = RunPayload(payload);
    } else {
        m_strExtractDir[0] = 0;
    }
    CloseHandle(held);
    // Files that only administrators could change since the check need no second one.
    m_bExtractionProtected = extracted != FALSE;
    return extracted;
}

BOOL CInstallOptions::RunPayload(const WCHAR *payload)
{
    WCHAR commandLine[kCommandLineChars];
    if (!FormPayloadCommandLine(commandLine, kCommandLineChars, payload, m_strExtractDir))
        return FALSE;
    // Whatever the program or the system's code it loads puts in a temporary folder lands in
    // the protected root, not the one the user's environment names.
    HANDLE process = StartCommandLineWithTemporaryFolder(commandLine, SW_HIDE, m_strTempRoot);
    if (!process)
        return FALSE;
    // The payload program takes a while to start before it writes a file: time enough for the
    // wizard's worker to load what the links need later (a silent run does it on a thread of its
    // own from its start).
    PrepareLinkObjects();
    // The unpacked files are checked against the manifest as they come, while the user reads
    // the first page, not when the installation starts.
    CExtractionCheck check(m_strExtractDir, CPayloadManifest::Instance());
    while (WaitForSingleObject(process, check.CheckWrittenFiles() ? 0 : 20) == WAIT_TIMEOUT) {
    }
    // A program that did not end with 0 may have cut files the check had already found whole
    // (it cuts every file whose block it could not vouch for): its files are not the payload.
    DWORD code = STILL_ACTIVE;
    bool ended = GetExitCodeProcess(process, &code) && code == 0;
    CloseHandle(process);
    m_nPayloadCheck = check.Finish() && ended ? kPayloadMatches : kPayloadDiffers;
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
    // What is in each folder goes while the folder is still held, so that it cannot be swapped
    // for another meanwhile; then the folder itself, emptied. The system removes only empty
    // folders at restart, so what cannot go now is scheduled, contents before their folders.
    struct Held {
        const WCHAR *folder;
        HANDLE *lock;
    } held[] = {{m_strExtractDir, &m_hExtractLock}, {m_strTempRoot, &m_hTempRootLock}};
    for (const Held &h : held) {
        RemoveContentsOrScheduleAtRestart(h.folder);
        if (*h.lock != INVALID_HANDLE_VALUE)
            CloseHandle(*h.lock);
        *h.lock = INVALID_HANDLE_VALUE;
    }
    // A browser run that outlived its wait, or what it started, still has the root for its
    // temporary files: were the root's name free, anyone could make a folder of that name in
    // the Windows folder's Temp and have that elevated process write into it. The root stays,
    // which only administrators can change, until the restart, and stays so at any later
    // clean-up: what was scheduled in it must not be found through a folder of someone else's.
    // It is scheduled again after what each clean-up scheduled in it, to come after that.
    m_bTempRootLeftForRestart = m_bTempRootLeftForRestart || (m_hBrowserRuns && ProcessesMayRemainIn(m_hBrowserRuns));
    if (m_hBrowserRuns)
        CloseHandle(m_hBrowserRuns);
    m_hBrowserRuns = NULL;
    if (m_bTempRootLeftForRestart) {
        ScheduleRemovalAtRestart(m_strTempRoot);
        return;
    }
    RemoveTreeOrScheduleAtRestart(m_strTempRoot);
    // Once gone, its name is free: a later clean-up must not work in a folder someone else
    // made under it meanwhile. (What could not go stays the setup's, for the restart.)
    if (GetFileAttributesW(m_strTempRoot) == INVALID_FILE_ATTRIBUTES)
        m_strTempRoot[0] = m_strExtractDir[0] = 0;
}
