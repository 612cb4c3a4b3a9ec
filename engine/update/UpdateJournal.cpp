// The update's journal: its records, written and read.
#include "engine/update/FileUpdate.h"
#include "base/Checksum.h"
#include "base/Format.h"
#include "base/SafePaths.h"
#include "base/FileSystem.h"
#include <stdlib.h>
#include <wchar.h>
#include "engine/update/FileUpdateShared.h"

// The journal is a run of records:
//   u32 size of the body in bytes (2 to 4096), u32 CRC-32 of the update's id (8 bytes) and the
//   body, then the body: a u16 kind and its fields.
//   'B' id (u64)                 first record of every update; its id keys all the CRCs
//   'D' folder                   a folder the update makes
//   'F' has-old (u16), length (u16), file, aside
//                                a file it puts in place; `aside` (empty for a new file) is the
//                                installed file's set-aside name, this update's own
//   'S' index (u32)              file `index` (in 'F' order) is in place
//   'C'                          committed: the new files are all in place and on the disk
// Paths are relative to the install folder, UTF-16 without terminator. A record that is cut
// short, fails its CRC or belongs to an earlier update ends the journal: what follows was never
// written by this update. A record that passes its CRC must be one an update writes, every field
// within its bounds and every path, with the update's suffixes, short enough for a path below the
// install folder; otherwise the whole journal is unreadable.

static DWORD RecordCrc(ULONGLONG id, const BYTE *body, DWORD size)
{
    return Crc32(Crc32(0, &id, sizeof(id)), body, size);
}

bool CFileUpdate::Record(WCHAR kind, const WCHAR *first, const WCHAR *second, DWORD number)
{
    BYTE record[8 + kMaxRecordBody];
    BYTE *body = record + 8;
    DWORD size = 0;
    *(WCHAR *)body = kind;
    size += sizeof(WCHAR);
    if (kind == L'B') {
        memcpy(body + size, &m_id, sizeof(m_id));
        size += sizeof(m_id);
    } else if (kind == L'S') {
        memcpy(body + size, &number, sizeof(number));
        size += sizeof(number);
    } else if (kind == L'D' || kind == L'F') {
        DWORD firstBytes = (DWORD)(wcslen(first) * sizeof(WCHAR));
        DWORD secondBytes = second ? (DWORD)(wcslen(second) * sizeof(WCHAR)) : 0;
        if (kind == L'F') {
            WCHAR fields[2] = {(WCHAR)(second[0] != 0), (WCHAR)(firstBytes / sizeof(WCHAR))};
            memcpy(body + size, fields, sizeof(fields));
            size += sizeof(fields);
        }
        if (size + firstBytes + secondBytes > kMaxRecordBody)
            return false;
        memcpy(body + size, first, firstBytes);
        size += firstBytes;
        if (secondBytes)
            memcpy(body + size, second, secondBytes);
        size += secondBytes;
    }
    DWORD crc = RecordCrc(m_id, body, size);
    memcpy(record, &size, 4);
    memcpy(record + 4, &crc, 4);
    if (kind == L'D' || kind == L'F') {
        // The plan reaches the journal in one write, before the flush that precedes any change.
        if (m_planSize + 8 + size > m_planCapacity) {
            DWORD capacity = (m_planCapacity + 8 + size) * 2;
            BYTE *larger = (BYTE *)realloc(m_plan, capacity);
            if (!larger)
                return false;
            m_plan = larger;
            m_planCapacity = capacity;
        }
        memcpy(m_plan + m_planSize, record, 8 + size);
        m_planSize += 8 + size;
    } else if (!m_ops->WriteJournal(m_hJournal, record, 8 + size)) {
        return false;
    }
    m_journalSize += 8 + size;
    return true;
}

bool CFileUpdate::WritePlan()
{
    bool written = m_planSize == 0 || m_ops->WriteJournal(m_hJournal, m_plan, m_planSize);
    m_planSize = 0;
    return written;
}

// The file opened is the journal in the install folder itself, not one a link of its name leads to.
static bool IsTheFolderOwnJournal(HANDLE journal, const WCHAR *folder)
{
    CHeldPath named;
    BY_HANDLE_FILE_INFORMATION opened, found;
    return named.Open(folder, kJournalName, 0) && !named.IsFolder() && GetFileInformationByHandle(journal, &opened) &&
           GetFileInformationByHandle(named.Handle(), &found) &&
           opened.dwVolumeSerialNumber == found.dwVolumeSerialNumber && opened.nFileIndexHigh == found.nFileIndexHigh &&
           opened.nFileIndexLow == found.nFileIndexLow;
}

UpdateOpenResult CFileUpdate::Open(DWORD waitMs)
{
    WCHAR journal[MAX_PATH];
    if (m_hJournal != INVALID_HANDLE_VALUE || !Format(journal, L"%s%s", m_target, kJournalName))
        return kUpdateNoJournal;
    DWORD started = GetTickCount();
    for (int attempt = 0;; ++attempt) {
        m_hJournal = CreateFileW(journal, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        if (m_hJournal != INVALID_HANDLE_VALUE) {
            if (IsTheFolderOwnJournal(m_hJournal, m_target))
                break;
            // A link of the journal's name: what it leads to is neither read nor cut, and the
            // link stays for someone to look at.
            CloseHandle(m_hJournal);
            m_hJournal = INVALID_HANDLE_VALUE;
            SetLastError(ERROR_CANT_ACCESS_FILE);
            return kUpdateNoJournal;
        }
        DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
            if (GetTickCount() - started >= waitMs)
                return kUpdateBusy;
            Sleep(100);
            continue;
        }
        // Something else has the name (an empty folder, a file we may not open): it goes once,
        // so that it never blocks an install; a file of that name may have been a journal.
        if (attempt > 0)
            return kUpdateNoJournal;
        if (DeleteFileW(journal))
            m_bUnreadable = true;
        else if (!RemoveDirectoryW(journal))
            return kUpdateNoJournal;
    }
    InterlockedIncrement(&g_updatesRunning);

    DWORD size = GetFileSize(m_hJournal, NULL);
    if (size != 0) {
        BYTE *data = size <= kMaxJournalSize ? (BYTE *)HeapAlloc(GetProcessHeap(), 0, size) : NULL;
        DWORD read = 0;
        bool committed = false;
        // A fresh update rewrites every file of the set anyway.
        if (m_bDistrusted || !data || !ReadFile(m_hJournal, data, size, &read, NULL) || read != size ||
            !ReadJournal(data, size, committed)) {
            m_bUnreadable = true;
            m_count = m_folderCount = 0;
            committed = false;
        }
        if (data)
            HeapFree(GetProcessHeap(), 0, data);
        m_foldersMade = m_folderCount;
        if (committed)
            Complete();
        else
            RollBack();
        if (m_bFailed) {
            Release(false);
            return kUpdateNotResolved;
        }
    }
    m_count = m_folderCount = m_foldersMade = 0;
    m_lastFolder[0] = 0;
    m_bLastFolderNew = false;

    // A new update, under an id of its own: records of earlier ones no longer count.
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    m_id = ((ULONGLONG)GetCurrentProcessId() << 48) ^ (ULONGLONG)counter.QuadPart ^ GetTickCount();
    m_journalSize = 0;
    if (!m_ops->CutJournal(m_hJournal, 0) || !Record(L'B', NULL, NULL, 0)) {
        Release(false);
        return kUpdateNoJournal;
    }
    return kUpdateReady;
}

bool CFileUpdate::ReadStoppedPlan()
{
    m_count = m_folderCount = 0;
    WCHAR path[MAX_PATH];
    if (m_hJournal != INVALID_HANDLE_VALUE || !Format(path, L"%s%s", m_target, kJournalName))
        return false;
    // Shared as an update never shares it: a journal an update holds is not read.
    HANDLE journal = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (journal == INVALID_HANDLE_VALUE)
        return false;
    DWORD size = GetFileSize(journal, NULL);
    BYTE *data = IsTheFolderOwnJournal(journal, m_target) && size != INVALID_FILE_SIZE && size <= kMaxJournalSize && size
                     ? (BYTE *)HeapAlloc(GetProcessHeap(), 0, size)
                     : NULL;
    DWORD read = 0;
    bool committed = false;
    bool valid = data && ReadFile(journal, data, size, &read, NULL) && read == size && ReadJournal(data, size, committed);
    if (data)
        HeapFree(GetProcessHeap(), 0, data);
    CloseHandle(journal);
    if (!valid)
        m_count = m_folderCount = 0;
    return valid;
}

// Fills the plan from the journal's valid records; `committed` tells whether the commit record
// was reached. False when a record passes its CRC but holds what no update writes: a field out of
// bounds, a path that would not fit below the install folder with the update's suffixes. Such a
// journal was made by someone else, and nothing of it is acted on.
bool CFileUpdate::ReadJournal(const BYTE *data, DWORD size, bool &committed)
{
    committed = false;
    ULONGLONG id = 0;
    bool begun = false;
    size_t folderLength = wcslen(m_target);
    for (DWORD at = 0; size - at >= 8 && !committed;) {
        DWORD bodySize, crc;
        memcpy(&bodySize, data + at, 4);
        memcpy(&crc, data + at + 4, 4);
        if (bodySize < sizeof(WCHAR) || bodySize > kMaxRecordBody || bodySize > size - at - 8 || bodySize % 2)
            return true;
        const BYTE *body = data + at + 8;
        WCHAR kind;
        memcpy(&kind, body, sizeof(kind));
        if (!begun) {
            if (kind != L'B' || bodySize != sizeof(WCHAR) + sizeof(id))
                return true;
            memcpy(&id, body + sizeof(WCHAR), sizeof(id));
        }
        if (RecordCrc(id, body, bodySize) != crc)
            return true;
        at += 8 + bodySize;
        const WCHAR *text = (const WCHAR *)(body + sizeof(WCHAR));
        size_t characters = (bodySize - sizeof(WCHAR)) / sizeof(WCHAR);
        switch (kind) {
        case L'B':
            if (begun)
                return false;
            begun = true;
            break;
        case L'D':
            if (!IsPlainRelativePath(text, characters) || folderLength + characters >= MAX_PATH ||
                !AddFolder(text, characters))
                return false;
            break;
        case L'F': {
            if (characters < 2 || text[0] > 1 || text[1] > characters - 2)
                return false;
            bool replaces = text[0] != 0;
            size_t length = text[1], asideLength = characters - 2 - length;
            const WCHAR *relative = text + 2, *aside = relative + length;
            if (!IsPlainRelativePath(relative, length) || folderLength + length + wcslen(kStagedSuffix) >= MAX_PATH ||
                replaces != (asideLength > 0))
                return false;
            if (replaces && (asideLength != length + wcslen(kSetAsideSample) || folderLength + asideLength >= MAX_PATH ||
                             wcsncmp(aside, relative, length) != 0 || !IsSetAsideSuffix(aside + length, asideLength - length)))
                return false;
            WCHAR first[MAX_PATH], asideName[MAX_PATH] = L"";
            lstrcpynW(first, relative, (int)length + 1);
            if (replaces)
                lstrcpynW(asideName, aside, (int)asideLength + 1);
            if (!AddEntry(first, asideName))
                return false;
            // A new file may have come in, wholly or partly, at any moment after the plan.
            m_entries[m_count - 1].swapped = !replaces;
            break;
        }
        case L'S': {
            DWORD index;
            if (characters != 2)
                return false;
            memcpy(&index, text, sizeof(index));
            if (index >= (DWORD)m_count)
                return false;
            m_entries[index].swapped = true;
            break;
        }
        case L'C':
            if (characters != 0)
                return false;
            committed = true;
            break;
        default:
            return false;
        }
    }
    return true;
}

