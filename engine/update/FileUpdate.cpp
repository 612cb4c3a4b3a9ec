#include "engine/update/FileUpdate.h"
#include "base/Checksum.h"
#include "base/Format.h"
#include "base/SafePaths.h"
#include "base/FileSystem.h"
#include "engine/update/FileUpdateShared.h"
#include "base/FolderSecurity.h"
#include <stdlib.h>
#include <wchar.h>

const WCHAR kStagedSuffix[] = L".vmnew";
const WCHAR kSetAsidePattern[] = L".%04x.vmold";
const WCHAR kSetAsideSample[] = L".0000.vmold";
const WCHAR kJournalName[] = L"\\VelmarinSetup.journal";

volatile LONG g_updatesRunning = 0;

int UpdateSuffixChars()
{
    int staged = (int)wcslen(kStagedSuffix), aside = (int)wcslen(kSetAsideSample);
    return staged > aside ? staged : aside;
}

static bool Exists(const WCHAR *path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

static bool IsPlainFile(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool IsSetAsideSuffix(const WCHAR *suffix, size_t length)
{
    if (length != wcslen(kSetAsideSample) || suffix[0] != L'.' || wcsncmp(suffix + 5, kSetAsideSample + 5, length - 5) != 0)
        return false;
    for (int i = 1; i <= 4; ++i) {
        if (!iswxdigit(suffix[i]))
            return false;
    }
    return true;
}

static void *GrowArray(void *items, int &capacity, size_t itemSize)
{
    int grown = capacity ? capacity * 2 : 16;
    void *larger = items ? HeapReAlloc(GetProcessHeap(), 0, items, grown * itemSize)
                         : HeapAlloc(GetProcessHeap(), 0, grown * itemSize);
    if (larger)
        capacity = grown;
    return larger;
}

static CFileOperations g_realOperations;

// The update.

CFileUpdate::CFileUpdate(const WCHAR *sourceDir, const WCHAR *targetDir, CFileOperations *operations)
    : m_ops(operations ? operations : &g_realOperations), m_hJournal(INVALID_HANDLE_VALUE), m_id(0),
      m_journalSize(0), m_bUnreadable(false), m_bDistrusted(false), m_bFailed(false), m_bMoves(false), m_moved(0), m_entries(NULL), m_count(0), m_capacity(0),
      m_folders(NULL), m_folderCount(0), m_folderCapacity(0), m_foldersMade(0), m_bLastFolderNew(false),
      m_plan(NULL), m_planSize(0), m_planCapacity(0)
{
    m_lastFolder[0] = m_moveFolder[0] = 0;
    m_bMoveFolderPassesDown = false;
    Copy(m_source, sourceDir);
    Copy(m_target, targetDir);
}

CFileUpdate::~CFileUpdate()
{
    if (m_hJournal != INVALID_HANDLE_VALUE)
        Abandon();
    free(m_plan);
    if (m_entries)
        HeapFree(GetProcessHeap(), 0, m_entries);
    if (m_folders)
        HeapFree(GetProcessHeap(), 0, m_folders);
}

bool CFileUpdate::Path(WCHAR (&path)[MAX_PATH], const WCHAR *relative, const WCHAR *suffix) const
{
    return Format(path, L"%s%s%s", m_target, relative, suffix);
}

bool CFileUpdate::AddEntry(const WCHAR *relative, const WCHAR *aside)
{
    if (m_count == m_capacity) {
        Entry *larger = (Entry *)GrowArray(m_entries, m_capacity, sizeof(Entry));
        if (!larger)
            return false;
        m_entries = larger;
    }
    Entry &entry = m_entries[m_count];
    if (!Copy(entry.relative, relative) || !Copy(entry.aside, aside))
        return false;
    entry.swapped = false;
    ++m_count;
    return true;
}

bool CFileUpdate::AddFolder(const WCHAR *folder, size_t length)
{
    if (m_folderCount == m_folderCapacity) {
        WCHAR(*larger)[MAX_PATH] = (WCHAR(*)[MAX_PATH])GrowArray(m_folders, m_folderCapacity, sizeof(*m_folders));
        if (!larger)
            return false;
        m_folders = larger;
    }
    lstrcpynW(m_folders[m_folderCount++], folder, (int)length + 1);
    return true;
}

bool CFileUpdate::PlanFolders(const WCHAR *relative)
{
    // Files come folder by folder: the folder of the previous file needs no second look.
    const WCHAR *name = wcsrchr(relative, L'\\');
    size_t folderLength = name ? (size_t)(name - relative) : 0;
    if (folderLength == wcslen(m_lastFolder) && wcsncmp(relative, m_lastFolder, folderLength) == 0)
        return true;
    // Whether the file's own folder is one this update makes: nothing can be in it yet.
    bool folderNew = false;
    // Each folder of the relative path, outermost first.
    WCHAR folder[MAX_PATH], full[MAX_PATH];
    for (const WCHAR *slash = wcschr(relative + 1, L'\\'); slash; slash = wcschr(slash + 1, L'\\')) {
        if (!FormatText(folder, MAX_PATH, L"%.*s", (int)(slash - relative), relative) || !Path(full, folder))
            return false;
        bool planned = false;
        for (int i = 0; i < m_folderCount && !planned; ++i)
            planned = wcscmp(m_folders[i], folder) == 0;
        folderNew = planned;
        if (planned)
            continue;
        DWORD attributes = GetFileAttributesW(full);
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                return false;
            continue;
        }
        if (!Record(L'D', folder, NULL, 0) || !AddFolder(folder, wcslen(folder)))
            return false;
        folderNew = true;
    }
    m_bLastFolderNew = folderNew;
    lstrcpynW(m_lastFolder, relative, (int)folderLength + 1);
    return true;
}

bool CFileUpdate::Stage(const WCHAR *relative)
{
    return Stage(relative, false);
}

bool CFileUpdate::Stage(const WCHAR *relative, bool knownPlainFile)
{
    WCHAR from[MAX_PATH], target[MAX_PATH], staged[MAX_PATH];
    if (m_hJournal == INVALID_HANDLE_VALUE || relative[0] != L'\\' || !Format(from, L"%s%s", m_source, relative) ||
        !Path(target, relative) || !Path(staged, relative, kStagedSuffix))
        return false;
    if ((!knownPlainFile && !IsPlainFile(GetFileAttributesW(from))) || !PlanFolders(relative))
        return false;
    // In a folder this update makes, the name is free; were it taken meanwhile, the copy, which
    // must make a new file there, fails.
    DWORD existing = m_bLastFolderNew ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(target);
    if (existing != INVALID_FILE_ATTRIBUTES && !IsPlainFile(existing))
        return false;

    WCHAR aside[MAX_PATH] = L"";
    if (existing != INVALID_FILE_ATTRIBUTES) {
        // A name of this update's own: one left by an earlier update (its deletion put off to
        // the next restart) is never taken for it.
        WCHAR suffix[16], full[MAX_PATH];
        for (int attempt = 0;; ++attempt) {
            if (attempt == 16 || !Format(suffix, kSetAsidePattern, (unsigned)((m_id + attempt * 7919) & 0xFFFF)) ||
                !Format(aside, L"%s%s", relative, suffix) || !Path(full, aside))
                return false;
            if (!Exists(full))
                break;
        }
    }
    return Record(L'F', relative, aside, 0) && AddEntry(relative, aside);
}

// Set-aside files of the files this update replaces that earlier updates left (their removal
// put off to a restart, or an older setup's "<name>.vmold") are never restored by anyone: they
// go now, or at restart. One look at each folder; any other file there is left alone.
void CFileUpdate::DiscardEarlierSetAsides()
{
    for (int first = 0; first < m_count; ++first) {
        const WCHAR *relative = m_entries[first].relative;
        size_t folderLength = (size_t)(wcsrchr(relative, L'\\') - relative);
        bool seen = false;
        for (int i = 0; i < first && !seen; ++i)
            seen = wcsncmp(m_entries[i].relative, relative, folderLength + 1) == 0 &&
                   !wcschr(m_entries[i].relative + folderLength + 1, L'\\');
        WCHAR pattern[MAX_PATH];
        if (seen || !FormatText(pattern, MAX_PATH, L"%s%.*s\\*.vmold", m_target, (int)folderLength, relative))
            continue;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(pattern, &found);
        if (search == INVALID_HANDLE_VALUE)
            continue;
        do {
            if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
                continue;
            for (int i = first; i < m_count; ++i) {
                const WCHAR *name = m_entries[i].relative + folderLength + 1;
                size_t nameLength = wcslen(name), foundLength = wcslen(found.cFileName);
                bool here = wcsncmp(m_entries[i].relative, relative, folderLength + 1) == 0 && !wcschr(name, L'\\');
                if (!here || !m_entries[i].aside[0] || foundLength <= nameLength || _wcsnicmp(found.cFileName, name, nameLength) != 0)
                    continue;
                const WCHAR *suffix = found.cFileName + nameLength;
                WCHAR leftover[MAX_PATH];
                if ((_wcsicmp(suffix, L".vmold") == 0 || IsSetAsideSuffix(suffix, wcslen(suffix))) &&
                    wcscmp(found.cFileName + 0, m_entries[i].aside + folderLength + 1) != 0 &&
                    FormatText(leftover, MAX_PATH, L"%.*s\\%s", (int)folderLength, relative, found.cFileName)) {
                    m_ops->Discard(m_target, leftover);
                    break;
                }
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
}

bool CFileUpdate::StageTree(const WCHAR *relativeFolder)
{
    WCHAR pattern[MAX_PATH];
    if (!Format(pattern, L"%s%s\\*", m_source, relativeFolder))
        return false;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool ok = true;
    do {
        if (lstrcmpW(entry.cFileName, L".") == 0 || lstrcmpW(entry.cFileName, L"..") == 0)
            continue;
        // A junction or link in the payload is not the browser's: it is never followed.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        WCHAR relative[MAX_PATH];
        if (!Format(relative, L"%s\\%s", relativeFolder, entry.cFileName)) {
            ok = false;
            break;
        }
        ok = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? StageTree(relative) : Stage(relative, true);
    } while (ok && FindNextFileW(search, &entry));
    FindClose(search);
    return ok;
}

bool CFileUpdate::CopyIn(const Entry &entry)
{
    WCHAR from[MAX_PATH], to[MAX_PATH];
    bool replaces = entry.aside[0] != 0;
    if (!Format(from, L"%s%s", m_source, entry.relative) || !Path(to, entry.relative, replaces ? kStagedSuffix : L""))
        return false;
    // A staged name left by an earlier run is overwritten; a new file's name must still be free.
    if (m_bMoves && FolderPassesDown(to)) {
        if (m_ops->MoveIn(from, to, !replaces)) {
            ++m_moved;
            return true;
        }
        DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS)
            return false;
        // Another volume: copies from here on. A file the move could not take (one a scanner
        // holds open without sharing its deletion) is copied all the same.
        if (error == ERROR_NOT_SAME_DEVICE)
            m_bMoves = false;
    }
    return m_ops->CopyTo(from, to, !replaces);
}

// A moved file made to inherit from a folder that passes nothing down would be left with no
// access for anyone; a copy gets what its maker gives, as before moves. One look per folder.
bool CFileUpdate::FolderPassesDown(const WCHAR *path)
{
    size_t length = (size_t)(wcsrchr(path, L'\\') - path);
    if (length != wcslen(m_moveFolder) || wcsncmp(path, m_moveFolder, length) != 0) {
        lstrcpynW(m_moveFolder, path, (int)length + 1);
        m_bMoveFolderPassesDown = PathPassesDownToFiles(m_moveFolder);
    }
    return m_bMoveFolderPassesDown;
}

// Every copy on the disk before anything relies on it: the whole volume at once where Windows
// allows it, else file by file, from several threads: a flush mostly waits for the disk, and
// flushes that wait together share the disk's work.
struct CFileUpdate::FlushJob {
    CFileUpdate *update;
    volatile LONG next;
    volatile LONG failed;
};

DWORD WINAPI CFileUpdate::FlushSome(LPVOID param)
{
    FlushJob *job = (FlushJob *)param;
    for (;;) {
        LONG i = InterlockedIncrement(&job->next) - 1;
        if (i >= job->update->m_count || job->failed)
            return 0;
        const Entry &entry = job->update->m_entries[i];
        WCHAR copy[MAX_PATH];
        if (!job->update->Path(copy, entry.relative, entry.aside[0] ? kStagedSuffix : L"") ||
            !job->update->m_ops->FlushFile(copy))
            InterlockedExchange(&job->failed, 1);
    }
}

bool CFileUpdate::FlushCopies()
{
    bool replaces = false;
    for (int i = 0; i < m_count && !replaces; ++i)
        replaces = m_entries[i].aside[0] != 0;
    if (!replaces || m_ops->FlushVolume(m_target))
        return true;
    FlushJob job = {this, 0, 0};
    HANDLE helpers[3];
    int started = 0;
    for (; started < 3 && started * 16 < m_count; ++started) {
        helpers[started] = CreateThread(NULL, 0, FlushSome, &job, 0, NULL);
        if (!helpers[started])
            break;
    }
    FlushSome(&job);
    if (started > 0)
        WaitForMultipleObjects(started, helpers, TRUE, INFINITE);
    for (int i = 0; i < started; ++i)
        CloseHandle(helpers[i]);
    return !job.failed;
}

bool CFileUpdate::SwapIn(Entry &entry)
{
    WCHAR target[MAX_PATH], staged[MAX_PATH], aside[MAX_PATH];
    if (!Path(target, entry.relative) || !Path(staged, entry.relative, kStagedSuffix) || !Path(aside, entry.aside))
        return false;
    // The installed file keeps a second name, then the new one takes its name in one rename.
    // A file in use, such as a running browser helper, can be renamed but neither replaced nor
    // deleted; it, and every file where hard links are not supported (FAT32), is renamed aside
    // instead, and for a moment its name is free. `swapped` from the moment the set-aside name
    // holds the installed file.
    if (!IsFileInUse(target) && m_ops->HardLink(aside, target)) {
        entry.swapped = true;
        if (m_ops->Move(staged, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        // Taken into use meanwhile: the second name goes, and the rename follows. Where even
        // that name cannot go yet, the installed file stays as it is, and the name goes at restart.
        m_ops->Discard(m_target, entry.aside);
        entry.swapped = false;
        if (Exists(aside))
            return false;
    }
    if (!m_ops->Move(target, aside, MOVEFILE_WRITE_THROUGH))
        return false;
    entry.swapped = true;
    return m_ops->Move(staged, target, MOVEFILE_WRITE_THROUGH);
}

bool CFileUpdate::Commit(void (*progress)(void *context, int copied), void *context)
{
    if (m_hJournal == INVALID_HANDLE_VALUE)
        return false;
    bool ok = WritePlan() && m_ops->FlushJournal(m_hJournal);
    for (; ok && m_foldersMade < m_folderCount; ++m_foldersMade) {
        WCHAR folder[MAX_PATH];
        ok = Path(folder, m_folders[m_foldersMade]) && m_ops->MakeFolder(folder);
    }
    for (int i = 0; ok && i < m_count; ++i) {
        Entry &entry = m_entries[i];
        bool isNew = !entry.aside[0];
        // A new file is in place from its first byte on: from here it is the update's to take
        // away, unless its name was taken meanwhile by someone else's file.
        entry.swapped = isNew;
        ok = CopyIn(entry);
        if (!ok && isNew && GetLastError() == ERROR_FILE_EXISTS)
            entry.swapped = false;
        if (ok && isNew)
            ok = Record(L'S', NULL, NULL, (DWORD)i);
        if (ok && progress)
            progress(context, i + 1);
    }
    ok = ok && FlushCopies();
    if (ok)
        DiscardEarlierSetAsides();
    for (int i = 0; ok && i < m_count; ++i) {
        if (m_entries[i].aside[0])
            ok = SwapIn(m_entries[i]) && Record(L'S', NULL, NULL, (DWORD)i);
    }
    DWORD beforeCommit = m_journalSize;
    if (ok)
        ok = m_ops->FlushJournal(m_hJournal) && Record(L'C', NULL, NULL, 0) && m_ops->FlushJournal(m_hJournal);
    if (!ok) {
        // The caller hears what went wrong, not what going back last met.
        DWORD error = GetLastError();
        // A commit record that may have reached the disk is cut off before anything goes back.
        if (m_journalSize > beforeCommit && !m_ops->CutJournal(m_hJournal, beforeCommit)) {
            Release(false);
        } else {
            RollBack();
            Release(!m_bFailed);
        }
        SetLastError(error);
        return false;
    }
    Complete();
    Release(true);
    return true;
}
