// How an update ends: rolled back to the folder as it was, or completed after its commit, and
// its journal let go.
#include "engine/update/FileUpdate.h"
#include "base/Format.h"
#include "base/SafePaths.h"
#include "engine/update/FileUpdateShared.h"

bool CFileUpdate::DeleteBelowTarget(const WCHAR *relative) const
{
    CHeldPath file;
    if (!file.Open(m_target, relative, DELETE | FILE_WRITE_ATTRIBUTES)) {
        // Missing, or reached through a link or junction: the update makes neither, so what is
        // there is not its own.
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_CANT_ACCESS_FILE;
    }
    // A folder of that name is not the update's.
    return file.IsFolder() || file.Delete();
}

// The set-aside file takes its own name again, whether or not the new one came in. `found`:
// it was there; false when it was and could not be put back.
bool CFileUpdate::PutBack(const Entry &entry, bool &found) const
{
    found = false;
    CHeldPath aside;
    // Opened to write where it can be, so that the rename is on the disk before the journal that
    // would repeat it goes; a read-only file is renamed all the same.
    bool flushable = aside.Open(m_target, entry.aside, DELETE | FILE_WRITE_DATA);
    if (!flushable && GetLastError() == ERROR_ACCESS_DENIED && !aside.Open(m_target, entry.aside, DELETE))
        return false;
    if (!flushable && aside.Handle() == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_CANT_ACCESS_FILE;
    }
    found = true;
    if (aside.IsFolder() || !aside.Rename(wcsrchr(entry.relative, L'\\') + 1, true))
        return false;
    if (flushable)
        FlushFileBuffers(aside.Handle());
    aside.Close();
    // Both names were one file (a swap stopped between its link and its rename): renaming one
    // onto the other may leave both.
    return DeleteBelowTarget(entry.aside);
}

// Everything here acts through handles opened below the install folder without following a
// link: a journal someone else wrote cannot turn a roll-back towards a file outside it.
void CFileUpdate::RollBack()
{
    for (int i = m_count - 1; i >= 0; --i) {
        Entry &entry = m_entries[i];
        WCHAR staged[MAX_PATH];
        if (!Format(staged, L"%s%s", entry.relative, kStagedSuffix) || !DeleteBelowTarget(staged))
            m_bFailed = true;
        if (!entry.aside[0]) {
            // A new file: whatever stands under its name came with the update.
            if (entry.swapped && !DeleteBelowTarget(entry.relative))
                m_bFailed = true;
        } else {
            // Without its set-aside file, a swapped file cannot be put back.
            bool found = false;
            if (!PutBack(entry, found) || (!found && entry.swapped))
                m_bFailed = true;
        }
        entry.swapped = false;
    }
    for (int i = m_foldersMade - 1; i >= 0; --i) {
        CHeldPath folder;
        if (folder.Open(m_target, m_folders[i], DELETE) && folder.IsFolder())
            folder.Delete();
    }
    m_foldersMade = 0;
}

void CFileUpdate::Abandon()
{
    if (m_hJournal == INVALID_HANDLE_VALUE)
        return;
    RollBack();
    Release(!m_bFailed);
}

// After the commit record: the set-aside files go, now or at the next restart.
void CFileUpdate::Complete()
{
    for (int i = 0; i < m_count; ++i) {
        WCHAR staged[MAX_PATH];
        // A swapped file's staged copy has become the file itself.
        if (!m_entries[i].swapped && Format(staged, L"%s%s", m_entries[i].relative, kStagedSuffix))
            m_ops->Discard(m_target, staged);
        if (m_entries[i].aside[0])
            m_ops->Discard(m_target, m_entries[i].aside);
    }
}

// Lets the journal go. `resolved`: the update completed or was rolled back completely, and the
// journal is emptied; otherwise it stays as it is for the next run to finish.
void CFileUpdate::Release(bool resolved)
{
    if (m_hJournal == INVALID_HANDLE_VALUE)
        return;
    resolved = resolved && m_ops->CutJournal(m_hJournal, 0);
    m_planSize = 0;
    CloseHandle(m_hJournal);
    m_hJournal = INVALID_HANDLE_VALUE;
    // An empty journal means nothing, and another update may already hold it again.
    WCHAR journal[MAX_PATH];
    if (resolved && Format(journal, L"%s%s", m_target, kJournalName))
        DeleteFileW(journal);
    InterlockedDecrement(&g_updatesRunning);
}

void WaitForFileUpdates()
{
    while (g_updatesRunning > 0)
        Sleep(50);
}
