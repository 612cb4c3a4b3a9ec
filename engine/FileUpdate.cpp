#include "engine/FileUpdate.h"
#include "engine/FileSystem.h"
#include "app/Format.h"
#include <shlwapi.h>
#include <wchar.h>

const WCHAR kStagedSuffix[] = L".vmnew";
const WCHAR kSetAsideSuffix[] = L".vmold";

static const WCHAR kJournalName[] = L"\\VelmarinSetup.journal";
static const WCHAR kCommitName[] = L"\\VelmarinSetup.commit";

static void *GrowArray(void *items, int &capacity, size_t itemSize)
{
    int grown = capacity ? capacity * 2 : 16;
    void *larger = items ? HeapReAlloc(GetProcessHeap(), 0, items, grown * itemSize)
                         : HeapAlloc(GetProcessHeap(), 0, grown * itemSize);
    if (larger)
        capacity = grown;
    return larger;
}

static bool IsPlainFile(const WCHAR *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

static bool Exists(const WCHAR *path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Deletes a file now, or when it is still in use, at the next restart.
static void DeleteNowOrAtRestart(const WCHAR *path)
{
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileW(path))
        MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// A new file written through to the disk: the journal and the commit mark must outlive a
// power cut that comes right after them.
static bool WriteDurably(const WCHAR *path, const WCHAR *text, DWORD characters)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_FLAG_WRITE_THROUGH, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    DWORD bytes = characters * sizeof(WCHAR);
    bool ok = (bytes == 0 || (WriteFile(file, text, bytes, &written, NULL) && written == bytes)) &&
              FlushFileBuffers(file);
    CloseHandle(file);
    return ok;
}

CFileUpdate::CFileUpdate(const WCHAR *sourceDir, const WCHAR *targetDir)
    : m_entries(NULL), m_count(0), m_capacity(0), m_folders(NULL), m_folderCount(0), m_folderCapacity(0),
      m_hJournal(INVALID_HANDLE_VALUE)
{
    m_lastFolder[0] = 0;
    Copy(m_source, sourceDir);
    Copy(m_target, targetDir);
}

CFileUpdate::~CFileUpdate()
{
    if (m_hJournal != INVALID_HANDLE_VALUE)
        CloseHandle(m_hJournal);
    if (m_entries)
        HeapFree(GetProcessHeap(), 0, m_entries);
    if (m_folders)
        HeapFree(GetProcessHeap(), 0, m_folders);
}

bool CFileUpdate::Journal(const WCHAR *relative, bool hadOld)
{
    // Written before the file is copied: whatever a stopped run left is named here, and the
    // next run looks at these names only, never at anything else in the folder.
    if (m_hJournal == INVALID_HANDLE_VALUE) {
        WCHAR journal[MAX_PATH];
        if (!Format(journal, L"%s%s", m_target, kJournalName))
            return false;
        m_hJournal = CreateFileW(journal, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (m_hJournal == INVALID_HANDLE_VALUE)
            return false;
    }
    WCHAR line[MAX_PATH + 4];
    if (!Format(line, L"%c%s\r\n", hadOld ? L'R' : L'N', relative))
        return false;
    DWORD bytes = (DWORD)(wcslen(line) * sizeof(WCHAR)), written = 0;
    return WriteFile(m_hJournal, line, bytes, &written, NULL) && written == bytes;
}

void CFileUpdate::CloseJournal(bool remove)
{
    if (m_hJournal != INVALID_HANDLE_VALUE)
        CloseHandle(m_hJournal);
    m_hJournal = INVALID_HANDLE_VALUE;
    WCHAR journal[MAX_PATH];
    if (remove && Format(journal, L"%s%s", m_target, kJournalName))
        DeleteFileW(journal);
}

bool CFileUpdate::Add(const WCHAR *relative, bool hadOld)
{
    if (m_count == m_capacity) {
        Entry *larger = (Entry *)GrowArray(m_entries, m_capacity, sizeof(Entry));
        if (!larger)
            return false;
        m_entries = larger;
    }
    Entry &entry = m_entries[m_count];
    if (!Copy(entry.relative, relative))
        return false;
    entry.hadOld = hadOld;
    entry.swapped = false;
    ++m_count;
    return true;
}

bool CFileUpdate::MakeFolders(const WCHAR *relative)
{
    // Files come folder by folder: the folder of the previous file needs no second look.
    const WCHAR *name = wcsrchr(relative, L'\\');
    size_t folderLength = name ? (size_t)(name - relative) : 0;
    if (folderLength == wcslen(m_lastFolder) && wcsncmp(relative, m_lastFolder, folderLength) == 0)
        return true;
    // Each folder of the relative path, outermost first.
    WCHAR folder[MAX_PATH];
    for (const WCHAR *slash = wcschr(relative + 1, L'\\'); slash; slash = wcschr(slash + 1, L'\\')) {
        if (!FormatText(folder, MAX_PATH, L"%s%.*s", m_target, (int)(slash - relative), relative))
            return false;
        DWORD attributes = GetFileAttributesW(folder);
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                return false;
            continue;
        }
        if (!CreateDirectoryW(folder, NULL))
            return false;
        if (m_folderCount == m_folderCapacity) {
            WCHAR(*larger)[MAX_PATH] = (WCHAR(*)[MAX_PATH])GrowArray(m_folders, m_folderCapacity, sizeof(*m_folders));
            if (!larger)
                return false;
            m_folders = larger;
        }
        Copy(m_folders[m_folderCount++], folder);
    }
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
    if (!Format(from, L"%s%s", m_source, relative) || !Format(target, L"%s%s", m_target, relative) ||
        !Format(staged, L"%s%s", target, kStagedSuffix))
        return false;
    if ((!knownPlainFile && !IsPlainFile(from)) || !MakeFolders(relative))
        return false;
    DWORD existing = GetFileAttributesW(target);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    bool hadOld = existing != INVALID_FILE_ATTRIBUTES;
    if (!Journal(relative, hadOld) || !Add(relative, hadOld))
        return false;
    if (!CopyFileW(from, staged, FALSE)) {
        --m_count;
        return false;
    }
    return true;
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

bool CFileUpdate::Commit()
{
    WCHAR commit[MAX_PATH];
    bool journalled = Format(commit, L"%s%s", m_target, kCommitName) &&
                      (m_count == 0 || (m_hJournal != INVALID_HANDLE_VALUE && FlushFileBuffers(m_hJournal)));
    if (m_hJournal != INVALID_HANDLE_VALUE)
        CloseHandle(m_hJournal);
    m_hJournal = INVALID_HANDLE_VALUE;
    if (!journalled) {
        Abandon();
        return false;
    }

    for (int i = 0; i < m_count; ++i) {
        Entry &entry = m_entries[i];
        WCHAR target[MAX_PATH], staged[MAX_PATH], aside[MAX_PATH];
        Format(target, L"%s%s", m_target, entry.relative);
        Format(staged, L"%s%s", target, kStagedSuffix);
        Format(aside, L"%s%s", target, kSetAsideSuffix);
        if (entry.hadOld && !MoveFileExW(target, aside, 0)) {
            RollBack();
            return false;
        }
        entry.swapped = true;
        if (!MoveFileExW(staged, target, 0)) {
            RollBack();
            return false;
        }
    }

    // From the commit mark on, a stopped run is completed, not undone.
    if (!WriteDurably(commit, L"", 0)) {
        RollBack();
        return false;
    }
    for (int i = 0; i < m_count; ++i) {
        WCHAR aside[MAX_PATH];
        if (m_entries[i].hadOld && Format(aside, L"%s%s%s", m_target, m_entries[i].relative, kSetAsideSuffix))
            DeleteNowOrAtRestart(aside);
    }
    CloseJournal(true);
    DeleteFileW(commit);
    return true;
}

void CFileUpdate::RollBack()
{
    bool restored = true;
    for (int i = m_count - 1; i >= 0; --i) {
        Entry &entry = m_entries[i];
        if (!entry.swapped)
            continue;
        WCHAR target[MAX_PATH], staged[MAX_PATH], aside[MAX_PATH];
        Format(target, L"%s%s", m_target, entry.relative);
        Format(staged, L"%s%s", target, kStagedSuffix);
        Format(aside, L"%s%s", target, kSetAsideSuffix);
        // The new file may not have moved in yet: then the old one only goes back.
        if (Exists(aside) || !entry.hadOld) {
            if (Exists(target) && !Exists(staged) && !MoveFileExW(target, staged, 0))
                restored = false;
            if (entry.hadOld && !MoveFileExW(aside, target, 0))
                restored = false;
        }
        entry.swapped = false;
    }
    // Where something could not be put back, the journal stays for the next run to finish.
    AbandonStaged(restored);
}

void CFileUpdate::Abandon()
{
    AbandonStaged(true);
}

void CFileUpdate::AbandonStaged(bool removeJournal)
{
    for (int i = 0; i < m_count; ++i) {
        WCHAR staged[MAX_PATH];
        if (!m_entries[i].swapped && Format(staged, L"%s%s%s", m_target, m_entries[i].relative, kStagedSuffix))
            DeleteFileW(staged);
    }
    for (int i = m_folderCount - 1; i >= 0; --i)
        RemoveDirectoryW(m_folders[i]);
    m_folderCount = 0;
    m_lastFolder[0] = 0;
    CloseJournal(removeJournal);
}

// Puts right one file the journal names: `hadOld` as staged, `forward` after the commit mark.
static bool RecoverFile(const WCHAR *targetDir, const WCHAR *relative, bool hadOld, bool forward)
{
    WCHAR target[MAX_PATH], staged[MAX_PATH], aside[MAX_PATH];
    if (relative[0] != L'\\' || wcsstr(relative, L"..") || !Format(target, L"%s%s", targetDir, relative) ||
        !Format(staged, L"%s%s", target, kStagedSuffix) || !Format(aside, L"%s%s", target, kSetAsideSuffix))
        return false;
    bool ok = !Exists(staged) || DeleteFileW(staged);
    if (forward) {
        if (Exists(aside))
            DeleteNowOrAtRestart(aside);
        return ok;
    }
    // Before the commit mark the set-aside file is the installed one: it goes back. A file that
    // had no old version and is in place came with the update: it goes.
    if (Exists(aside)) {
        if (Exists(target) && !DeleteFileW(target))
            return false;
        return MoveFileExW(aside, target, 0) && ok;
    }
    if (!hadOld && Exists(target) && !DeleteFileW(target))
        return false;
    return ok;
}

bool RecoverInterruptedUpdate(const WCHAR *targetDir)
{
    WCHAR journal[MAX_PATH], commit[MAX_PATH];
    if (!Format(journal, L"%s%s", targetDir, kJournalName) || !Format(commit, L"%s%s", targetDir, kCommitName))
        return false;
    bool forward = Exists(commit);
    HANDLE file = CreateFileW(journal, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        // No journal: no update was stopped here (a commit mark alone is all that is left).
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
        DeleteFileW(commit);
        return true;
    }
    DWORD size = GetFileSize(file, NULL);
    bool ok = size != INVALID_FILE_SIZE && size < 16 * 1024 * 1024;
    WCHAR *text = ok ? (WCHAR *)HeapAlloc(GetProcessHeap(), 0, size + sizeof(WCHAR)) : NULL;
    DWORD read = 0;
    ok = text && ReadFile(file, text, size, &read, NULL) && read == size;
    CloseHandle(file);
    if (ok) {
        text[size / sizeof(WCHAR)] = 0;
        // Each line: 'R' (it replaced a file) or 'N' (a new file), then the relative path. A
        // line cut short by the stop names a file that was never copied in.
        for (WCHAR *line = text; *line;) {
            WCHAR *end = wcschr(line, L'\r');
            if (!end)
                break;
            *end = 0;
            if ((line[0] == L'R' || line[0] == L'N') && !RecoverFile(targetDir, line + 1, line[0] == L'R', forward))
                ok = false;
            line = end + 1;
            if (*line == L'\n')
                ++line;
        }
    }
    if (text)
        HeapFree(GetProcessHeap(), 0, text);
    if (ok) {
        DeleteFileW(journal);
        DeleteFileW(commit);
    }
    return ok;
}
