// Replaces a set of files in the install folder as one step: an update either completes or
// leaves the folder exactly as it was, and at no moment is there neither a complete old nor a
// complete new browser on disk.
//
// Every new file is first copied in beside its target under a temporary name ("<name>.vmnew");
// nothing old is touched. A journal in the folder names each file before it is copied, and
// whether it replaces one. Then each is swapped in by renames that keep the replaced file aside
// ("<name>.vmold"). Once all are in place a commit mark is written and the set-aside files go.
// A run that was stopped half-way is resolved by the next from its journal, which names all it
// may have left: before the commit mark it is rolled back, after it rolled forward.
#pragma once
#include <windows.h>

extern const WCHAR kStagedSuffix[];     // ".vmnew"
extern const WCHAR kSetAsideSuffix[];   // ".vmold"

class CFileUpdate {
public:
    CFileUpdate(const WCHAR *sourceDir, const WCHAR *targetDir);
    ~CFileUpdate();

    // Copies "<source><relative>" to "<target><relative>.vmnew", making the missing folders.
    // `relative` starts with a backslash. False when the copy failed.
    bool Stage(const WCHAR *relative);
    // Stages every file below "<source><relativeFolder>", never following a reparse point.
    bool StageTree(const WCHAR *relativeFolder);
    // Swaps every staged file into place. False, with the folder as it was, when any swap failed.
    bool Commit();
    // Takes away the staged copies and the folders the update made: the folder as it was.
    void Abandon();

    int StagedCount() const { return m_count; }

private:
    struct Entry {
        WCHAR relative[MAX_PATH];
        bool hadOld;
        bool swapped;
    };
    bool Stage(const WCHAR *relative, bool knownPlainFile);
    bool Journal(const WCHAR *relative, bool hadOld);
    void CloseJournal(bool remove);
    bool Add(const WCHAR *relative, bool hadOld);
    void AbandonStaged(bool removeJournal);
    bool MakeFolders(const WCHAR *relative);
    void RollBack();

    WCHAR m_source[MAX_PATH];
    WCHAR m_target[MAX_PATH];
    Entry *m_entries;
    int m_count;
    int m_capacity;
    // Folders made for staged files, in the order they were made.
    WCHAR (*m_folders)[MAX_PATH];
    int m_folderCount;
    int m_folderCapacity;
    // The relative folder of the last staged file, known to exist.
    WCHAR m_lastFolder[MAX_PATH];
    HANDLE m_hJournal;

    CFileUpdate(const CFileUpdate &);
    CFileUpdate &operator=(const CFileUpdate &);
};

// Resolves what an update stopped half-way (killed, power cut) left in a folder, towards a
// complete installation: only the files its journal names are looked at. False when something
// could not be put right.
bool RecoverInterruptedUpdate(const WCHAR *targetDir);
