// Replaces a set of files in the install folder as one step: an update either completes or
// leaves the folder as it was, and the browser's own names always hold complete files.
//
// One journal in the folder ("VelmarinSetup.journal") is the only record of an update, and the
// update holds it open without sharing from start to end, so that no second copy of the setup
// touches the folder meanwhile. An update runs in four steps:
//   1. plan: a record for every folder it will make and every file it will put in place, with
//      the file's own set-aside name; nothing in the folder changes; the journal is flushed;
//   2. copy: a file that replaces one is copied in beside it ("<name>.vmnew"), a new file straight
//      to its name; every copy is flushed (in a fresh installation, where nothing old is at stake,
//      they are not: a power cut leaves at worst a damaged new browser that the next run replaces).
//      From a source that is the update's own, files on the same volume are moved in instead.
//   3. swap: the installed file gets a second name, its set-aside name (a hard link), and the
//      staged file is moved over it in one rename, so the name never goes missing; each swap is
//      recorded; then the commit record is written and flushed;
//   4. the set-aside files go (or, when still in use, at the next restart) and the journal is
//      emptied.
// A run stopped anywhere is resolved by the next one from the journal's valid records alone:
// without the commit record it is rolled back, with it completed.
#pragma once
#include <windows.h>

extern const WCHAR kStagedSuffix[];   // ".vmnew"
// Characters an update may add to a file's path for its staged or set-aside names.
int UpdateSuffixChars();

// The file operations an update performs, one call each, so that a test can see their order.
class CFileOperations {
public:
    virtual ~CFileOperations() {}
    // Copies a file; with `mustBeNew`, fails when `to` exists (ERROR_FILE_EXISTS).
    virtual bool CopyTo(const WCHAR *from, const WCHAR *to, bool mustBeNew);
    // Moves a file to `to` on the same volume, where it then takes on what its new folder passes
    // down, as a copy made there would; with `mustBeNew`, fails when `to` exists (ERROR_FILE_EXISTS).
    // On another volume it fails with ERROR_NOT_SAME_DEVICE. Unless the file left `from` for
    // good, it is at `from` again after a failure.
    virtual bool MoveIn(const WCHAR *from, const WCHAR *to, bool mustBeNew);
    // Writes a file's contents through to the disk.
    virtual bool FlushFile(const WCHAR *path);
    // Writes everything of the volume that holds `folder` through to the disk at once (Windows
    // allows it to administrators); false where it cannot.
    virtual bool FlushVolume(const WCHAR *folder);
    // Gives an existing file a second name.
    virtual bool HardLink(const WCHAR *link, const WCHAR *existing);
    virtual bool Move(const WCHAR *from, const WCHAR *to, DWORD flags);
    virtual bool MakeFolder(const WCHAR *path);
    // Deletes the file "<folder><relative>", reached without following a link or junction below
    // `folder`, now or, when it is still in use, at the next restart. A missing file, a folder
    // and anything reached through a link need nothing: they are not the update's.
    virtual void Discard(const WCHAR *folder, const WCHAR *relative);
    virtual bool WriteJournal(HANDLE journal, const void *bytes, DWORD size);
    virtual bool FlushJournal(HANDLE journal);
    // Cuts the journal to `size` bytes and flushes it.
    virtual bool CutJournal(HANDLE journal, DWORD size);
};

// How many files this process's updates left to be deleted at the next restart, as they were
// still in use.
int FilesScheduledAtRestart();

enum UpdateOpenResult {
    kUpdateReady,        // the journal is held, whatever an earlier run left is resolved
    kUpdateBusy,         // another update holds the folder's journal
    kUpdateNotResolved,  // an earlier stopped run could not be put right (a file is in use)
    kUpdateNoJournal,    // no journal can be made in the folder
};

class CFileUpdate {
public:
    // `operations` (kept by the caller) defaults to the real file system.
    CFileUpdate(const WCHAR *sourceDir, const WCHAR *targetDir, CFileOperations *operations = NULL);
    // An update neither committed nor abandoned is abandoned.
    ~CFileUpdate();

    // Takes the folder's journal, waiting up to `waitMs` while another update holds it, and
    // resolves what a stopped earlier run left. Everything else needs it first.
    UpdateOpenResult Open(DWORD waitMs);
    // Reads the plan of an update stopped in the target folder from the folder's own journal,
    // without taking it and without changing anything: what judging the folder before Open
    // needs to know of the names such an update leaves. False where there is no journal, another
    // update holds it or it cannot be read; the plan is then empty.
    bool ReadStoppedPlan();
    // The set-aside name of planned file `index`, relative; empty for a new file.
    const WCHAR *SetAsideName(int index) const { return m_entries[index].aside; }
    // True when Open found a journal it could not read and started it afresh.
    bool JournalWasUnreadable() const { return m_bUnreadable; }
    // Before Open: the folder's earlier journal may be someone else's (others could write into
    // the folder until now). Open then acts on none of it, and starts afresh.
    void DistrustEarlierJournal() { m_bDistrusted = true; }

    // Plans "<source><relative>" for "<target><relative>". `relative` starts with a backslash.
    // False when the file cannot be part of the update.
    bool Stage(const WCHAR *relative);
    // Plans every file below "<source><relativeFolder>", never following a reparse point.
    bool StageTree(const WCHAR *relativeFolder);
    int StagedCount() const { return m_count; }
    // The relative path of planned file `index`.
    const WCHAR *StagedFile(int index) const { return m_entries[index].relative; }

    // The source is the update's own: only administrators could change it since its files were
    // checked, and nothing reads them after the update. They are then moved into place instead of
    // copied, for as long as the source lies on the install folder's volume, into every folder
    // that passes entries down to its files.
    void MoveFromSource() { m_bMoves = true; }
    // How many files came in by a move.
    int MovedCount() const { return m_moved; }

    // Copies and swaps in every planned file; `progress`, when given, hears how many files are
    // copied after each one. False, with the folder as it was, when anything failed.
    bool Commit(void (*progress)(void *context, int copied) = NULL, void *context = NULL);
    // Gives up the plan: the folder as it was, the journal let go.
    void Abandon();

private:
    struct Entry {
        WCHAR relative[MAX_PATH];
        WCHAR aside[MAX_PATH];  // relative; empty for a new file
        bool swapped;
    };
    bool AddFolder(const WCHAR *folder, size_t length);
    bool ReadJournal(const BYTE *data, DWORD size, bool &committed);
    void Complete();
    bool Record(WCHAR kind, const WCHAR *first, const WCHAR *second, DWORD number);
    // Writes the planned 'D' and 'F' records, kept until the commit, in one piece.
    bool WritePlan();
    bool PlanFolders(const WCHAR *relative);
    bool Stage(const WCHAR *relative, bool knownPlainFile);
    bool AddEntry(const WCHAR *relative, const WCHAR *aside);
    void DiscardEarlierSetAsides();
    bool CopyIn(const Entry &entry);
    struct FlushJob;
    static DWORD WINAPI FlushSome(LPVOID param);
    bool FlushCopies();
    bool SwapIn(Entry &entry);
    void RollBack();
    // Deletes "<target><relative>" when it is a file, through the handle that found it below the
    // install folder; true unless such a file stays.
    bool DeleteBelowTarget(const WCHAR *relative) const;
    bool PutBack(const Entry &entry, bool &found) const;
    void Release(bool empty);
    bool Path(WCHAR (&path)[MAX_PATH], const WCHAR *relative, const WCHAR *suffix = L"") const;
    bool FolderPassesDown(const WCHAR *path);

    CFileOperations *m_ops;
    WCHAR m_source[MAX_PATH];
    WCHAR m_target[MAX_PATH];
    HANDLE m_hJournal;
    ULONGLONG m_id;
    DWORD m_journalSize;
    bool m_bUnreadable;
    bool m_bDistrusted;
    bool m_bFailed;
    bool m_bMoves;
    int m_moved;
    // The last folder a file was to be moved into, and whether it passes anything down to files.
    WCHAR m_moveFolder[MAX_PATH];
    bool m_bMoveFolderPassesDown;
    Entry *m_entries;
    int m_count;
    int m_capacity;
    // Folders the update makes, relative, outermost first.
    WCHAR (*m_folders)[MAX_PATH];
    int m_folderCount;
    int m_folderCapacity;
    int m_foldersMade;
    // The relative folder of the last planned file, known to exist or planned, and whether this
    // update makes it.
    WCHAR m_lastFolder[MAX_PATH];
    bool m_bLastFolderNew;
    // Plan records not written yet.
    BYTE *m_plan;
    DWORD m_planSize;
    DWORD m_planCapacity;

    CFileUpdate(const CFileUpdate &);
    CFileUpdate &operator=(const CFileUpdate &);
};

// Returns once no update of this process is between its first change and its last: the process
// must not end in the middle of a swap.
void WaitForFileUpdates();
