#include "engine/removal/Uninstall.h"
#include "base/Format.h"
#include "base/SafePaths.h"
#include "base/SystemEnvironment.h"
#include "base/FileSystem.h"
#include "engine/update/FileUpdate.h"
#include "engine/update/FileUpdateShared.h"
#include "engine/folder/InstallFolder.h"
#include "engine/payload/PayloadManifest.h"
#include "engine/process/Process.h"
#include "engine/Product.h"
#include "engine/record/RecordedRegistry.h"
#include "engine/payload/TempFolder.h"
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

static bool OpenedWhereRecorded(HANDLE handle, const WCHAR *path);

// "<folder>\<relative>" as Windows names it: a drive root's backslash is not doubled.
static bool JoinInstalledPath(WCHAR (&path)[MAX_PATH], const WCHAR *folder, const WCHAR *relative)
{
    size_t length = wcslen(folder);
    bool rooted = length > 0 && folder[length - 1] == L'\\' && relative[0] == L'\\';
    return Format(path, L"%s%s", folder, rooted ? relative + 1 : relative);
}

// Opens the install folder, without following a link and without delete sharing, so that
// neither it nor a folder above it can be renamed while the removal runs; INVALID_HANDLE_VALUE
// when it is a link, or where Windows names it (Vista and later) it is not the recorded folder:
// a folder above it was swapped for a link or junction.
static HANDLE HoldInstallFolder(const WCHAR *folder)
{
    HANDLE held = CreateFileW(folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (held == INVALID_HANDLE_VALUE)
        return held;
    BY_HANDLE_FILE_INFORMATION information;
    bool trusted = GetFileInformationByHandle(held, &information) &&
                   (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!trusted || !OpenedWhereRecorded(held, folder)) {
        CloseHandle(held);
        return INVALID_HANDLE_VALUE;
    }
    return held;
}

// No folder between the install folder (itself included) and the file is a link or junction:
// the file is really where the record says.
static bool ReachedWithoutLinks(const WCHAR *folder, const WCHAR *relative)
{
    WCHAR path[MAX_PATH];
    if (!Copy(path, folder) || IsReparsePoint(path))
        return false;
    size_t base = wcslen(path);
    WCHAR full[MAX_PATH];
    if (!JoinInstalledPath(full, folder, relative))
        return false;
    for (size_t i = base + 1; full[i]; ++i) {
        if (full[i] != L'\\')
            continue;
        full[i] = 0;
        bool link = IsReparsePoint(full);
        full[i] = L'\\';
        if (link)
            return false;
    }
    return true;
}

// The file holds what was recorded: the same size and SHA-256, and it is a plain file.
static bool StillAsRecorded(const WCHAR *path, const RecordItem &item)
{
    ULONGLONG size = 0;
    BYTE sha256[32];
    return HashFileContents(path, size, sha256) && size == item.size && memcmp(sha256, item.sha256, 32) == 0;
}

static bool IsGone(const WCHAR *path)
{
    if (GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES)
        return false;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

enum FileOutcome { kFileRemoved, kFileChanged, kFileInUse, kFileOpened };

// Vista and later, from kernel32: the path Windows names an open file by, and deletion through
// the handle that was checked.
typedef DWORD(WINAPI *FinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);

static FinalPathFn FinalPathFunction()
{
    return (FinalPathFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW");
}

// True when Windows names the open file or folder `path`: no link or junction on the way to it.
// Windows before Vista cannot say; there the links on the way were looked at by path.
static bool OpenedWhereRecorded(HANDLE handle, const WCHAR *path)
{
    FinalPathFn finalPath = FinalPathFunction();
    if (!finalPath)
        return true;
    WCHAR named[MAX_PATH + 8];
    DWORD length = finalPath(handle, named, MAX_PATH + 8, 0);
    if (length == 0 || length >= MAX_PATH + 8)
        return false;
    // "\\?\C:\..." for a drive, "\\?\UNC\server\..." for a share (the "C" of "UNC" becomes its
    // first backslash); a volume without a letter is not it.
    const WCHAR *opened = named;
    if (wcsncmp(named, L"\\\\?\\UNC\\", 8) == 0) {
        named[6] = L'\\';
        opened = named + 6;
    } else if (wcsncmp(named, L"\\\\?\\", 4) == 0) {
        opened = named + 4;
    }
    size_t recorded = wcslen(path);
    while (recorded > 3 && path[recorded - 1] == L'\\')
        --recorded;
    return wcslen(opened) == recorded && SameIgnoringCase(opened, path, recorded);
}

// Deletes the file behind `file`; the handle is closed either way.
static bool DeleteOpenedFile(HANDLE file, DWORD attributes)
{
    bool deleted = MarkForDeletion(file, attributes);
    CloseHandle(file);
    return deleted;
}

// Opens a file as the setup put it for deletion: once, without following a link, checked through
// that handle (a plain file, where the record says, its size and SHA-256). kFileOpened with the
// handle in `file`; kFileRemoved when it is gone already; kFileInUse when it is open elsewhere
// without delete sharing, kFileChanged when it is not the setup's any more.
static FileOutcome OpenFileAsRecorded(const WCHAR *path, const RecordItem &item, HANDLE &file, DWORD &attributes)
{
    file = CreateFileW(path, DELETE | GENERIC_READ | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        if (IsGone(path))
            return kFileRemoved;
        return StillAsRecorded(path, item) ? kFileInUse : kFileChanged;
    }
    BY_HANDLE_FILE_INFORMATION information;
    ULONGLONG size = 0;
    BYTE sha256[32];
    if (!GetFileInformationByHandle(file, &information) || !OpenedWhereRecorded(file, path) ||
        !HashOpenFile(file, size, sha256) || size != item.size || memcmp(sha256, item.sha256, 32) != 0) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        return kFileChanged;
    }
    attributes = information.dwFileAttributes;
    return kFileOpened;
}

// A file as the setup put it goes, deleted through the handle it was checked through. One still
// in use (a helper that would not end) stays as it is. Never scheduled for a restart: by then the
// path may lead somewhere else.
static FileOutcome RemoveFileAsRecorded(const WCHAR *path, const RecordItem &item)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD attributes = 0;
    FileOutcome outcome = OpenFileAsRecorded(path, item, file, attributes);
    if (outcome != kFileOpened)
        return outcome;
    return DeleteOpenedFile(file, attributes) ? kFileRemoved : kFileInUse;
}

// The uninstaller that is still running (the program a silent removal was started as) is opened
// and checked now and held for deletion once it has ended: counted as removed, its handle in
// `held`.
static FileOutcome HoldRunningUninstaller(const WCHAR *path, const RecordItem &item, HANDLE &held)
{
    DWORD attributes = 0;
    FileOutcome outcome = OpenFileAsRecorded(path, item, held, attributes);
    if (outcome != kFileOpened)
        held = NULL;
    return outcome == kFileOpened ? kFileRemoved : outcome;
}

static void CountFile(UninstallCounts &counts, FileOutcome outcome, const WCHAR *path)
{
    if (outcome == kFileRemoved) {
        ++counts.removed;
    } else if (outcome == kFileChanged) {
        ++counts.kept;
    } else if (counts.inUse++ == 0) {
        const WCHAR *name = wcsrchr(path, L'\\');
        Copy(counts.firstInUse, name ? name + 1 : path);
    }
}

// Opens the record for deletion, so that nobody can hold it open against that while the
// uninstall entry goes. INVALID_HANDLE_VALUE when it is gone already, or (counted as in use)
// when it cannot be opened so.
static HANDLE OpenRecordForDeletion(const WCHAR *folder, UninstallCounts &counts, DWORD &attributes)
{
    WCHAR path[MAX_PATH];
    if (!Format(path, L"%s\\%s", folder, kRecordFileName))
        return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    BY_HANDLE_FILE_INFORMATION information;
    if (file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &information)) {
        attributes = information.dwFileAttributes;
        return file;
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!IsGone(path))
        CountFile(counts, kFileInUse, path);
    return INVALID_HANDLE_VALUE;
}

// Removes the folders of a relative path below `folder` that are empty, the deepest first, each
// through a handle opened without following a link.
static void RemoveEmptyParents(const WCHAR *folder, const WCHAR *relative)
{
    WCHAR part[MAX_PATH];
    if (!Copy(part, relative))
        return;
    for (WCHAR *slash = wcsrchr(part, L'\\'); slash && slash > part; slash = wcsrchr(part, L'\\')) {
        *slash = 0;
        CHeldPath level;
        if (!level.Open(folder, part, DELETE) || !level.IsFolder() || !level.Delete())
            return;
    }
}

// The deepest folder above `path` that only administrators may change, and the rest of the path
// below it ("\name" parts). In a profile (the links bar and the quick-launch link are the
// account's own) that is the folder of every profile: the account, and his unelevated programs,
// may put a link or junction anywhere in his own. Elsewhere (the all-users menus and desktop) it
// is the folder the item lies in.
static bool SplitAtTrustedFolder(const WCHAR *path, WCHAR (&trusted)[MAX_PATH], const WCHAR *&below)
{
    WCHAR profiles[MAX_PATH], everyone[MAX_PATH];
    ProfileListFolder(L"ProfilesDirectory", profiles);
    ProfileListFolder(L"Public", everyone);
    size_t length = 0;
    if (profiles[0] && IsPathWithin(path, profiles) && wcslen(path) > wcslen(profiles) &&
        !(everyone[0] && IsPathWithin(path, everyone))) {
        length = wcslen(profiles);
    } else {
        const WCHAR *slash = wcsrchr(path, L'\\');
        if (!slash || slash <= path + 2)
            return false;
        length = (size_t)(slash - path);
    }
    if (length >= MAX_PATH || path[length] != L'\\')
        return false;
    lstrcpynW(trusted, path, (int)length + 1);
    below = path + length;
    return true;
}

// A folder the setup made outside the install folder (the program group, LinkBar), when empty:
// removed through a handle that cannot have followed a link from the trusted folder above it
// down, every folder on the way held meanwhile.
static void RemoveMadeOutsideFolder(const WCHAR *path)
{
    WCHAR trusted[MAX_PATH];
    const WCHAR *below = NULL;
    if (!SplitAtTrustedFolder(path, trusted, below))
        return;
    CHeldPath folder;
    if (folder.Open(trusted, below, DELETE) && folder.IsFolder())
        folder.Delete();
}

// A shortcut the setup put outside the install folder, as it put it. The folders on the way to
// it from the trusted folder above are opened without following a link and held, so that none
// can be swapped for one while it is checked and deleted; where one is a link, the shortcut is
// not the setup's any more.
static FileOutcome RemoveLinkAsRecorded(const RecordItem &item)
{
    WCHAR trusted[MAX_PATH];
    const WCHAR *below = NULL;
    if (!SplitAtTrustedFolder(item.path, trusted, below))
        return kFileChanged;
    CHeldPath way;
    const WCHAR *name = wcsrchr(below, L'\\');
    if (name != below) {
        WCHAR folders[MAX_PATH];
        lstrcpynW(folders, below, (int)(name - below) + 1);
        if (!way.Open(trusted, folders, FILE_LIST_DIRECTORY) || !way.IsFolder()) {
            DWORD error = GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kFileRemoved : kFileChanged;
        }
    }
    return RemoveFileAsRecorded(item.path, item);
}

static const WCHAR kUninstallerFile[] = L"\\UnInst.exe";

// The uninstaller's own file and its entry in the system's list: they go last, so that a removal
// cut short (a power cut, a logoff) can be run again from the same place.
static bool IsWayBack(const RecordItem &item)
{
    if (item.kind == RecordItem::kFile)
        return SameIgnoringCase(item.path, kUninstallerFile);
    return (item.kind == RecordItem::kValue || item.kind == RecordItem::kMadeKey) && item.root == HKEY_LOCAL_MACHINE &&
           IsPathWithin(item.path, kUninstallKey);
}

// The order of removal: everything else, then the uninstaller's file, then its entry.
enum RemovalPass { kPassOthers, kPassUninstaller, kPassEntry, kPassCount };

static RemovalPass PassOf(const RecordItem &item)
{
    return !IsWayBack(item) ? kPassOthers : item.kind == RecordItem::kFile ? kPassUninstaller : kPassEntry;
}

static int CompareLongestFirst(const void *a, const void *b)
{
    return (int)wcslen((*(const RecordItem *const *)b)->path) - (int)wcslen((*(const RecordItem *const *)a)->path);
}

// The mark in the running account's own registry that its logon has made its parts of the
// installation: the account's key, taken away with its own rights. Other users' marks, and the
// parts their logons made, stay theirs.
static void RemoveOwnUserPartsMark()
{
    HANDLE ownAccount = CreateOwnAccountToken();
    {
        CThreadToken rights(ownAccount);
        HKEY user = NULL;
        if (rights.Acting() && RegOpenCurrentUser(KEY_READ | DELETE, &user) == ERROR_SUCCESS) {
            RegDeleteKeyW(user, kActiveSetupKey);
            RegCloseKey(user);
        }
    }
    if (ownAccount)
        CloseHandle(ownAccount);
}

// An update stopped in the folder (a power cut, a kill) is finished or undone first, as the next
// setup would: its set-aside and staged files go, and the browser's files are again those of
// one installation. One that cannot be resolved now (another setup updates the folder, a file in
// use) keeps the way back, so that the removal can be run again.
static void ResolveStoppedUpdate(const WCHAR *folder, UninstallCounts &counts)
{
    WCHAR journal[MAX_PATH];
    if (!Format(journal, L"%s%s", folder, kJournalName) || GetFileAttributesW(journal) == INVALID_FILE_ATTRIBUTES)
        return;
    CFileUpdate update(folder, folder);
    if (update.Open(10000) == kUpdateReady)
        update.Abandon();
    else
        CountFile(counts, kFileInUse, journal);
}

UninstallCounts RemoveRecordedInstallation(const CInstallRecord &record, void (*progress)(void *context, int percent),
                                           void *context, HANDLE *runningUninstaller)
{
    UninstallCounts counts = {};
    if (runningUninstaller)
        *runningUninstaller = NULL;
    const WCHAR *folder = record.Folder();
    // Where the folder is not the recorded one, nothing in it is touched.
    HANDLE held = HoldInstallFolder(folder);
    const bool reachable = held != INVALID_HANDLE_VALUE;
    if (reachable)
        ResolveStoppedUpdate(folder, counts);
    int total = record.Count() > 0 ? record.Count() : 1;
    int done = 0;
    // Keys are taken the deepest first, after every value: a key goes only once it is empty.
    const RecordItem **keys = (const RecordItem **)calloc(total, sizeof(RecordItem *));
    int keyCount = 0;
    HANDLE recordFile = INVALID_HANDLE_VALUE;
    DWORD recordAttributes = 0;
    for (int i = 0; i < kPassCount * record.Count(); ++i) {
        const RecordItem &item = record.Item(i % record.Count());
        const int pass = i / record.Count();
        // The way back stays while anything else does. The record is held for deletion from its
        // start, so that the entry never goes while the record has to stay.
        if (i == kPassUninstaller * record.Count() && !counts.inUse && !counts.unreachable)
            recordFile = OpenRecordForDeletion(folder, counts, recordAttributes);
        if (pass != kPassOthers && (counts.inUse || counts.unreachable))
            break;
        if (PassOf(item) != pass)
            continue;
        WCHAR path[MAX_PATH];
        switch (item.kind) {
        case RecordItem::kFile:
            if (!reachable)
                ++counts.unreachable;
            else if (!ReachedWithoutLinks(folder, item.path) || !JoinInstalledPath(path, folder, item.path))
                ++counts.kept;  // behind a link below the folder: never followed
            else if (pass == kPassUninstaller && runningUninstaller && !*runningUninstaller)
                CountFile(counts, HoldRunningUninstaller(path, item, *runningUninstaller), path);
            else
                CountFile(counts, RemoveFileAsRecorded(path, item), path);
            break;
        case RecordItem::kLink:
            CountFile(counts, RemoveLinkAsRecorded(item), item.path);
            break;
        case RecordItem::kValue:
            // Another view than this program's own is left alone: it would be another program's.
            ++(item.view == CInstallRecord::ProcessView() && RemoveRecordedValue(item) ? counts.removed : counts.kept);
            break;
        case RecordItem::kMadeKey:
            if (keys && item.view == CInstallRecord::ProcessView())
                keys[keyCount++] = &item;
            continue;
        case RecordItem::kMadeFolder:
            continue;
        }
        if (progress)
            progress(context, 90 * ++done / total);
    }
    const bool whole = !counts.inUse && !counts.unreachable;
    if (keys) {
        qsort(keys, keyCount, sizeof(keys[0]), CompareLongestFirst);
        for (int i = 0; i < keyCount; ++i) {
            // A key that stays non-empty holds another program's values: not counted as kept.
            if (whole || !IsWayBack(*keys[i]))
                counts.removed += RemoveRecordedKeyIfEmpty(*keys[i]) ? 1 : 0;
        }
        free(keys);
    }
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);

    // Folders: below the install folder, then the setup's own shortcut folders, when empty.
    for (int i = 0; i < record.Count(); ++i) {
        const RecordItem &item = record.Item(i);
        if (item.kind == RecordItem::kFile && reachable && ReachedWithoutLinks(folder, item.path))
            RemoveEmptyParents(folder, item.path);
        else if (item.kind == RecordItem::kMadeFolder)
            RemoveMadeOutsideFolder(item.path);
    }
    WCHAR recordPath[MAX_PATH];
    if (whole && recordFile != INVALID_HANDLE_VALUE && Format(recordPath, L"%s\\%s", folder, kRecordFileName) &&
        !DeleteOpenedFile(recordFile, recordAttributes))
        CountFile(counts, kFileInUse, recordPath);
    else if (recordFile != INVALID_HANDLE_VALUE)
        CloseHandle(recordFile);
    if (counts.inUse && runningUninstaller && *runningUninstaller) {
        CloseHandle(*runningUninstaller);
        *runningUninstaller = NULL;
    }
    if (!whole) {
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        if (progress)
            progress(context, 100);
        return counts;
    }
    RemoveOwnUserPartsMark();
    // A copy an interrupted save of the record may have left goes too.
    if (Format(recordPath, L"%s\\%s.new", folder, kRecordFileName))
        DeleteFileW(recordPath);
    // Only a folder the setup made goes, and only empty: a drive root, a folder that was there
    // before the installation, or one that holds anything else stays.
    CloseHandle(held);
    if (record.MadeFolder())
        RemoveMadeFolder(folder);
    if (progress)
        progress(context, 100);
    return counts;
}

bool DeleteUninstallerOnceEnded(HANDLE uninstaller, const CInstallRecord &record)
{
    const WCHAR *folder = record.Folder();
    WCHAR path[MAX_PATH];
    BY_HANDLE_FILE_INFORMATION information;
    bool known = JoinInstalledPath(path, folder, kUninstallerFile) && GetFileInformationByHandle(uninstaller, &information);
    // Windows lets go of a program's file a moment after its process has ended.
    bool deleted = false;
    for (int attempt = 0; known && !deleted && attempt < 50; ++attempt) {
        if (attempt)
            Sleep(100);
        deleted = MarkForDeletion(uninstaller, information.dwFileAttributes);
    }
    CloseHandle(uninstaller);
    if (deleted) {
        if (record.MadeFolder())
            RemoveMadeFolder(folder);
        return true;
    }
    // Still mapped by someone (a scanner, say): it goes at the next restart, and its folder after
    // it where the setup made it; only administrators can change the folder, so the names stay
    // the setup's meanwhile.
    return known && MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT) &&
           (!record.MadeFolder() || MoveFileExW(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT));
}

void DescribeUninstallEnd(const UninstallCounts &counts, WCHAR (&text)[400])
{
    if (counts.unreachable) {
        Format(text, L"有 %d 个岚舟浏览器的文件位于链接之后，为了安全没有删除；卸载程序和安装记录已保留。", counts.unreachable);
    } else if (counts.inUse) {
        Format(text, L"有 %d 个文件正在使用中，未能删除（%s 等）。请关闭使用它们的程序，然后再次运行卸载程序。",
               counts.inUse, counts.firstInUse);
    } else if (counts.kept) {
        Format(text, L"岚舟浏览器已卸载。有 %d 项在安装后被更改过，已保留。", counts.kept);
    } else {
        Copy(text, L"岚舟浏览器已从您的计算机中卸载。感谢您的使用！");
    }
    const WCHAR *data = counts.data == kDataKept           ? L"您的浏览数据未能全部删除。"
                        : counts.data == kDataNoDesktopUser ? L"找不到桌面的用户，为了不删除别人的数据，没有删除任何浏览数据。"
                                                            : NULL;
    if (data) {
        size_t length = wcslen(text);
        CopyText(text + length, 400 - length, data);
    }
}
