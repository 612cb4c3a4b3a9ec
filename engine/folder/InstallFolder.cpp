#include "engine/folder/InstallFolder.h"
#include "base/Format.h"
#include "base/SafePaths.h"
#include "base/FileSystem.h"
#include "engine/update/FileUpdate.h"
#include "engine/update/FileUpdateShared.h"
#include "base/FolderSecurity.h"
#include "engine/record/InstallRecord.h"
#include "engine/payload/PayloadManifest.h"
#include "engine/Product.h"
#include <shlwapi.h>

namespace {

// The names an update stopped in the folder left there, as the folder's own journal lists
// them: until the next update resolves it, a file may have a second name there (its set-aside
// name), and staged copies lie beside the browser's files.
class CStoppedUpdate {
public:
    explicit CStoppedUpdate(const WCHAR *folder) : m_plan(folder, folder), m_bRead(m_plan.ReadStoppedPlan()) {}
    // `relative` is a file the plan puts in place or its set-aside name, the other name is there
    // too, and the two are one file with no third name: both names lie in the folder.
    bool ExplainsSecondName(const WCHAR *folder, const WCHAR *relative) const
    {
        for (int i = 0; m_bRead && i < m_plan.StagedCount(); ++i) {
            const WCHAR *name = m_plan.StagedFile(i), *aside = m_plan.SetAsideName(i);
            if (!aside[0] || (!SameIgnoringCase(relative, name) && !SameIgnoringCase(relative, aside)))
                continue;
            return SameFileWithTwoNames(folder, name, aside);
        }
        return false;
    }
    // `relative` is a staged copy or a set-aside name of the plan.
    bool Lists(const WCHAR *relative) const
    {
        size_t staged = wcslen(kStagedSuffix);
        for (int i = 0; m_bRead && i < m_plan.StagedCount(); ++i) {
            const WCHAR *name = m_plan.StagedFile(i);
            size_t length = wcslen(name);
            if (SameIgnoringCase(relative, m_plan.SetAsideName(i)) ||
                (wcslen(relative) == length + staged && SameIgnoringCase(relative, name, length) &&
                 SameIgnoringCase(relative + length, kStagedSuffix)))
                return true;
        }
        return false;
    }

private:
    static bool SameFileWithTwoNames(const WCHAR *folder, const WCHAR *first, const WCHAR *second)
    {
        BY_HANDLE_FILE_INFORMATION a, b;
        return FileInformation(folder, first, a) && FileInformation(folder, second, b) && a.nNumberOfLinks == 2 &&
               b.nNumberOfLinks == 2 && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
               a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
    }
    static bool FileInformation(const WCHAR *folder, const WCHAR *relative, BY_HANDLE_FILE_INFORMATION &info)
    {
        CHeldPath file;
        return file.Open(folder, relative, FILE_READ_ATTRIBUTES) && !file.IsFolder() &&
               GetFileInformationByHandle(file.Handle(), &info);
    }

    CFileUpdate m_plan;
    bool m_bRead;
};

// What a walk through an install folder found.
struct TreeWalk {
    const CRunningAccount *who;
    const WCHAR *root;              // the install folder
    size_t base;                    // characters of its path
    const CStoppedUpdate *stopped;  // the names a stopped update left, where one did
    PSECURITY_DESCRIPTOR reinherit; // when set, each object is made to inherit again first
    bool checkHeld;                 // whether objects someone holds open to change count
    bool foreign;                   // an object others own, or were given rights on of its own
    bool inherits;                  // an object others could change through what it inherits
    bool onlyBrowser;               // nothing but the browser's files and the folders they lie in
    bool held;                      // an object someone holds open to write into or rename
    bool secondNames;               // a file with the second name a stopped update gave it
    bool journalNames;              // a file that is the browser's only as a stopped update's name
};

// `relative` ("\Extensions\PlgKit") holds files of the browser.
bool IsPayloadFolder(const WCHAR *relative)
{
    const CPayloadManifest &manifest = CPayloadManifest::Instance();
    size_t length = wcslen(relative);
    for (int i = 0; i < manifest.FileCount(); ++i) {
        const WCHAR *file = manifest.File(i).relative;
        if (wcslen(file) > length && file[length] == L'\\' && SameIgnoringCase(file, relative, length))
            return true;
    }
    return false;
}

// A file of the browser's own, or one an earlier setup or update of it left: its record, its
// journal, the backup of its program an older setup made ("Velmarin.exe.bak"), the program each
// user's logon runs, and a file of the browser under the staged or set-aside name of an update
// (".vmnew", ".vmold", ".xxxx.vmold"), which the next update removes.
bool IsBrowserFile(const WCHAR *relative)
{
    if (SameIgnoringCase(relative + 1, kRecordFileName) || SameIgnoringCase(relative, L"\\VelmarinSetup.record.new") ||
        SameIgnoringCase(relative, kJournalName) || SameIgnoringCase(relative, L"\\Velmarin.exe.bak") ||
        SameIgnoringCase(relative, kUserPartsProgram))
        return true;
    const CPayloadManifest &manifest = CPayloadManifest::Instance();
    size_t length = wcslen(relative);
    for (int i = 0; i < manifest.FileCount(); ++i) {
        const WCHAR *file = manifest.File(i).relative;
        size_t fileLength = wcslen(file);
        if (fileLength > length || !SameIgnoringCase(file, relative, fileLength))
            continue;
        const WCHAR *suffix = relative + fileLength;
        if (!*suffix || SameIgnoringCase(suffix, kStagedSuffix) || SameIgnoringCase(suffix, L".vmold") ||
            IsSetAsideSuffix(suffix, wcslen(suffix)))
            return true;
    }
    return false;
}

// Someone holds the object open with a right to write into it, add to it or rename it: what a
// protection applied afterwards cannot take from him.
bool HeldForChange(const WCHAR *path)
{
    HANDLE probe = OpenObjectItself(path, FILE_READ_DATA | SYNCHRONIZE, FILE_SHARE_READ);
    if (probe == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(probe);
    return false;
}

// A file with a second name elsewhere: judging or protecting it would act on another folder's file.
bool HasOtherNames(const WCHAR *file)
{
    HANDLE opened = OpenObjectItself(file, FILE_READ_ATTRIBUTES);
    if (opened == INVALID_HANDLE_VALUE)
        return true;
    BY_HANDLE_FILE_INFORMATION info;
    bool others = !GetFileInformationByHandle(opened, &info) || info.nNumberOfLinks != 1;
    CloseHandle(opened);
    return others;
}

DescriptorVerdict JudgeFor(const WCHAR *path, const CRunningAccount *who)
{
    return JudgePath(path, who->Trusted());
}

void Judge(const WCHAR *path, TreeWalk &walk)
{
    switch (JudgeFor(path, walk.who)) {
    case kOthersByItsOwn:
        walk.foreign = true;
        break;
    case kOthersThroughInheritance:
        walk.inherits = true;
        break;
    case kOnlyTrustedCanChange:
        break;
    }
}

void WalkBelow(const WCHAR *folder, TreeWalk &walk, int depth)
{
    WCHAR pattern[MAX_PATH];
    if (depth > 8 || !Format(pattern, L"%s\\*", folder)) {
        walk.foreign = true;
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) {
        // What cannot be listed cannot be vouched for.
        if (GetLastError() != ERROR_FILE_NOT_FOUND)
            walk.foreign = true;
        return;
    }
    do {
        if (lstrcmpW(entry.cFileName, L".") == 0 || lstrcmpW(entry.cFileName, L"..") == 0)
            continue;
        WCHAR path[MAX_PATH];
        if (!Format(path, L"%s\\%s", folder, entry.cFileName)) {
            walk.foreign = true;
            break;
        }
        const WCHAR *relative = path + walk.base;
        bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A second name of a file is another folder's file, unless a stopped update of this
        // folder made it, both names here.
        if (!link && !isFolder && HasOtherNames(path)) {
            if (!walk.stopped || !walk.stopped->ExplainsSecondName(walk.root, relative)) {
                walk.foreign = true;
                break;
            }
            walk.secondNames = true;
        }
        // Only an object whose owner and own entries are trusted, or the running account's, is
        // made to inherit: another user's stays his, and refuses the folder.
        if (walk.reinherit && !link && JudgeFor(path, walk.who) != kOthersByItsOwn)
            ApplyDescriptor(path, walk.reinherit);
        Judge(path, walk);
        if (walk.checkHeld && HeldForChange(path))
            walk.held = true;
        if (link) {
            walk.onlyBrowser = false;
        } else if (isFolder) {
            if (!IsPayloadFolder(relative)) {
                walk.onlyBrowser = false;
                continue;
            }
            WalkBelow(path, walk, depth + 1);
        } else if (!IsBrowserFile(relative)) {
            // A name the folder's own journal lists counts only where nobody else could have
            // written that journal: it is noted, and a folder to be taken over refuses it.
            if (walk.stopped && walk.stopped->Lists(relative))
                walk.journalNames = true;
            else
                walk.onlyBrowser = false;
        }
    } while (!walk.foreign && FindNextFileW(search, &entry));
    FindClose(search);
}

TreeWalk StartWalk(const WCHAR *folder, const CRunningAccount *who, const CStoppedUpdate *stopped)
{
    TreeWalk walk = {who, folder, wcslen(folder), stopped, NULL, false, false, false, true, false, false, false};
    return walk;
}

// Whether someone else could rename a folder above `folder` or what lies in it, up to its drive
// root: a root cannot be renamed, what lies in it can.
bool AboveChangeable(const WCHAR *folder, PSID self)
{
    WCHAR path[MAX_PATH];
    if (!Copy(path, folder))
        return true;
    for (;;) {
        WCHAR *slash = wcsrchr(path, L'\\');
        if (!slash || (slash == path + 2 && !path[3]))
            return false;  // reached the drive root
        bool root = slash == path + 2;
        slash[root ? 1 : 0] = 0;
        if (PathIsDirectoryW(path) && PathOthersCouldChange(path, kChangeChildren | (root ? 0 : kChangeRename), self))
            return true;
        if (root)
            return false;
    }
}

// An existing folder others could change only through inheritance: protected at its top first
// (owner Administrators, the protected list), so that nobody else can add to it any more, then
// every object below made to inherit that, then all of it judged again as it now reads: still
// nothing but the browser's files (what others added before the top was protected), none of it
// held open by anyone to write into or rename. Once the top is protected, a refusal is final.
bool ProtectExistingFolder(const WCHAR *folder, const CRunningAccount *who)
{
    if (JudgeFor(folder, who) == kOthersByItsOwn)
        return false;
    PSECURITY_DESCRIPTOR descriptor = CreateInstallFolderDescriptor();
    bool applied = ApplyDescriptor(folder, descriptor);
    if (descriptor)
        LocalFree(descriptor);
    if (!applied) {
        // A volume that keeps no access lists (FAT) lets everyone change everything; one that
        // keeps them its own way may already protect the folder.
        return !PathOthersCouldChange(folder, kChangeInsideOf | kChangeRename, who->Trusted());
    }
    TreeWalk walk = StartWalk(folder, who, NULL);
    walk.reinherit = CreateInheritingDescriptor();
    walk.checkHeld = true;
    bool ready = walk.reinherit != NULL && !HeldForChange(folder) && JudgeFor(folder, who) == kOnlyTrustedCanChange;
    if (ready)
        WalkBelow(folder, walk, 0);
    if (walk.reinherit)
        LocalFree(walk.reinherit);
    return ready && !walk.foreign && !walk.inherits && !walk.held && walk.onlyBrowser;
}

// Makes `folder` and the levels above it from `first` down, `first` protected as it is made
// when `protectFirst`, else inheriting what lies above it. Every level must be new: one someone
// else made meanwhile stops it (`taken`).
bool MakeMissingLevels(const WCHAR *folder, const WCHAR *first, bool protectFirst, bool &taken)
{
    taken = false;
    size_t start = wcslen(first);
    if (!start || !SameIgnoringCase(folder, first, start) || (folder[start] && folder[start] != L'\\'))
        return false;
    PSECURITY_DESCRIPTOR descriptor = protectFirst ? CreateInstallFolderDescriptor() : NULL;
    bool made = protectFirst ? descriptor && CreateFolderWithSecurity(first, descriptor) : CreateDirectoryW(first, NULL) != FALSE;
    DWORD error = GetLastError();
    if (descriptor)
        LocalFree(descriptor);
    if (!made) {
        // A folder that appeared since the decision is someone else's; a file of that name only
        // means the folder cannot be made.
        taken = error == ERROR_ALREADY_EXISTS && PathIsDirectoryW(first);
        return false;
    }
    // The levels below it, each new, made in order; on a failure what this call made goes
    // again, deepest first (nothing was written into it).
    WCHAR level[MAX_PATH];
    Copy(level, folder);
    size_t ends[MAX_PATH / 2];
    int count = 0;
    for (size_t at = start + 1; folder[start] && at <= wcslen(folder) && count < MAX_PATH / 2; ++at) {
        if (folder[at] == L'\\' || folder[at] == 0)
            ends[count++] = at;
    }
    for (int i = 0; i < count; ++i) {
        level[ends[i]] = 0;
        bool madeLevel = CreateDirectoryW(level, NULL) != FALSE;
        taken = !madeLevel && GetLastError() == ERROR_ALREADY_EXISTS && PathIsDirectoryW(level);
        level[ends[i]] = folder[ends[i]];
        if (madeLevel)
            continue;
        while (--i >= 0) {
            level[ends[i]] = 0;
            RemoveMadeFolder(level);
        }
        RemoveMadeFolder(first);
        return false;
    }
    return true;
}

}

namespace {

// What the setup found of an install folder and what it will do with it.
struct FolderPlan {
    InstallFolderDecision decision;
    bool onNetwork;                // refused: it lies on a network drive, or leads to one
    WCHAR path[MAX_PATH];          // the folder, a drive root as "D:\\" (never relative to a current folder)
    bool existed;                  // it was there when decided
    WCHAR firstMissing[MAX_PATH];  // otherwise the topmost level the setup makes
    bool inProgramFiles;           // which then inherits what Program Files gives
};

// "D:" names the current folder on drive D:, not its root.
bool RootedFolder(const WCHAR *folder, WCHAR (&path)[MAX_PATH])
{
    if (!Copy(path, folder))
        return false;
    size_t length = wcslen(path);
    while (length > 3 && path[length - 1] == L'\\')
        path[--length] = 0;
    if (length == 2 && path[1] == L':') {
        path[2] = L'\\';
        path[3] = 0;
    }
    return true;
}

void DecideInstallFolder(const WCHAR *folder, FolderPlan &plan)
{
    plan.decision = kFolderRefused;
    plan.firstMissing[0] = 0;
    plan.existed = plan.inProgramFiles = plan.onNetwork = false;
    if (!RootedFolder(folder, plan.path))
        return;
    const WCHAR *path = plan.path;
    // A share's "Administrators" are the server's, and whoever controls the server or the
    // traffic changes what the elevated programs run.
    if (FolderOnNetwork(path)) {
        plan.onNetwork = true;
        return;
    }
    CRunningAccount who;
    plan.decision = kFolderTrusted;
    plan.existed = PathIsDirectoryW(path) != FALSE;
    if (plan.existed) {
        CStoppedUpdate stopped(path);
        DescriptorVerdict top = JudgeFor(path, &who);
        TreeWalk walk = StartWalk(path, &who, &stopped);
        if (top != kOthersByItsOwn)
            WalkBelow(path, walk, 0);
        if (top == kOthersByItsOwn || walk.foreign)
            plan.decision = kFolderRefused;
        else if (top != kOnlyTrustedCanChange || walk.inherits)
            // Others could have written the folder's journal too: a stopped update's names count
            // as the browser's only where only administrators could change the folder, and a
            // file with two names cannot be protected on its own.
            plan.decision = walk.onlyBrowser && !walk.secondNames && !walk.journalNames ? kFolderToProtect : kFolderRefused;
    } else {
        // The topmost level the setup will make: everything it makes below inherits from it.
        Copy(plan.firstMissing, path);
        WCHAR above[MAX_PATH];
        Copy(above, path);
        for (WCHAR *slash = wcsrchr(above, L'\\'); slash && slash > above + 2; slash = wcsrchr(above, L'\\')) {
            *slash = 0;
            if (PathIsDirectoryW(above))
                break;
            Copy(plan.firstMissing, above);
        }
        plan.inProgramFiles = IsInProgramFiles(path);
        plan.decision = plan.inProgramFiles ? kFolderTrusted : kFolderToProtect;
    }
    if (plan.decision != kFolderRefused && AboveChangeable(path, who.Trusted()))
        plan.decision = kFolderRefused;
}

// Makes a folder decided missing; in Program Files the new levels inherit, and what they
// inherit is judged before anything is put into them.
// The levels this run made from `first` down to `folder` hold nothing it did not make: each the
// next level alone, the last nothing at all.
bool MadeLevelsHoldNothingElse(const WCHAR *folder, const WCHAR *first)
{
    WCHAR level[MAX_PATH], pattern[MAX_PATH];
    if (!Copy(level, first))
        return false;
    size_t folderLength = wcslen(folder);
    for (;;) {
        size_t length = wcslen(level);
        bool last = length >= folderLength;
        int found = 0;
        WIN32_FIND_DATAW entry;
        HANDLE search = Format(pattern, L"%s\\*", level) ? FindFirstFileW(pattern, &entry) : INVALID_HANDLE_VALUE;
        if (search == INVALID_HANDLE_VALUE)
            return false;
        do {
            if (lstrcmpW(entry.cFileName, L".") == 0 || lstrcmpW(entry.cFileName, L"..") == 0)
                continue;
            const WCHAR *next = folder + length + 1;
            size_t nextLength = wcscspn(next, L"\\");
            bool isNext = !last && wcslen(entry.cFileName) == nextLength && SameIgnoringCase(entry.cFileName, next, nextLength) &&
                          (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                              FILE_ATTRIBUTE_DIRECTORY;
            found += isNext ? 1 : 100;
        } while (FindNextFileW(search, &entry));
        FindClose(search);
        if (found != (last ? 0 : 1))
            return false;
        if (last)
            return true;
        size_t nextLength = wcscspn(folder + length + 1, L"\\");
        if (length + 1 + nextLength >= MAX_PATH)
            return false;
        lstrcpynW(level, folder, (int)(length + 1 + nextLength) + 1);
    }
}

PreparedFolder MakeDecidedFolder(const FolderPlan &plan, bool &made)
{
    bool taken = false;
    if (!MakeMissingLevels(plan.path, plan.firstMissing, !plan.inProgramFiles, taken))
        return taken ? kFolderOthersCouldChange : kFolderNotMade;
    made = true;
    CRunningAccount who;
    bool trusted = JudgeFor(plan.firstMissing, &who) == kOnlyTrustedCanChange;
    if (!trusted) {
        PSECURITY_DESCRIPTOR descriptor = CreateInstallFolderDescriptor();
        trusted = ApplyDescriptor(plan.firstMissing, descriptor) && JudgeFor(plan.firstMissing, &who) == kOnlyTrustedCanChange;
        if (descriptor)
            LocalFree(descriptor);
        // Until it was protected it took on what the folder above passes down, which may let
        // others add to it: what they put there meanwhile refuses it.
        trusted = trusted && MadeLevelsHoldNothingElse(plan.path, plan.firstMissing);
    }
    if (trusted)
        return kFolderReady;
    RemoveMadeFolder(plan.path);
    made = false;
    return kFolderOthersCouldChange;
}

}

PreparedFolder CheckInstallFolder(const WCHAR *folder, bool &made)
{
    made = false;
    FolderPlan plan;
    DecideInstallFolder(folder, plan);
    if (plan.decision == kFolderRefused)
        return plan.onNetwork ? kFolderOnNetwork : kFolderOthersCouldChange;
    return plan.existed ? kFolderReady : MakeDecidedFolder(plan, made);
}

PreparedFolder PrepareInstallFolder(const WCHAR *folder, bool &made, bool &protectedNow)
{
    made = protectedNow = false;
    FolderPlan plan;
    DecideInstallFolder(folder, plan);
    if (plan.decision == kFolderRefused)
        return plan.onNetwork ? kFolderOnNetwork : kFolderOthersCouldChange;
    // What was missing is made, never taken over: a folder that appeared since is refused.
    if (!plan.existed)
        return MakeDecidedFolder(plan, made);
    if (plan.decision != kFolderToProtect)
        return kFolderReady;
    CRunningAccount who;
    protectedNow = ProtectExistingFolder(plan.path, &who);
    return protectedNow ? kFolderReady : kFolderOthersCouldChange;
}

bool WayToFolderOthersCouldChange(const WCHAR *typed)
{
    WCHAR folder[MAX_PATH], level[MAX_PATH];
    if (!RootedFolder(typed, folder) || !Copy(level, folder))
        return true;
    CRunningAccount who;
    if (AboveChangeable(folder, who.Trusted()))
        return true;
    // Each link or junction on the way, the folder's own name included, is judged itself: one
    // someone else made or may change leads where he chooses.
    for (size_t at = 3; at <= wcslen(folder); ++at) {
        if (folder[at] != L'\\' && folder[at] != 0)
            continue;
        level[at] = 0;
        bool link = IsReparsePoint(level);
        level[at] = folder[at];
        if (!link)
            continue;
        WCHAR linkPath[MAX_PATH];
        lstrcpynW(linkPath, folder, (int)at + 1);
        if (JudgeFor(linkPath, &who) != kOnlyTrustedCanChange)
            return true;
    }
    return false;
}

bool InstallationOthersCouldChange(const WCHAR *typed)
{
    WCHAR folder[MAX_PATH];
    if (!RootedFolder(typed, folder) || FolderOnNetwork(folder))
        return true;
    CRunningAccount who;
    bool changeable = !PathIsDirectoryW(folder) || JudgeFor(folder, &who) != kOnlyTrustedCanChange ||
                      AboveChangeable(folder, who.Trusted());
    if (!changeable) {
        CStoppedUpdate stopped(folder);
        TreeWalk walk = StartWalk(folder, &who, &stopped);
        WalkBelow(folder, walk, 0);
        changeable = walk.foreign || walk.inherits;
    }
    return changeable;
}

bool RemoveMadeFolder(const WCHAR *typed)
{
    WCHAR folder[MAX_PATH];
    if (!RootedFolder(typed, folder))
        return false;
    HANDLE made = OpenObjectItself(folder, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE);
    if (made == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    // The folder goes when the handle closes; one that is not empty stays.
    bool removed = GetFileInformationByHandle(made, &info) &&
                   (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                       FILE_ATTRIBUTE_DIRECTORY &&
                   MarkForDeletion(made);
    CloseHandle(made);
    return removed;
}

namespace {

// The longest part of `folder` that exists, opened, and the name Windows gives it; `tail` where
// the rest (yet to be made) starts in `trimmed`, the folder without trailing backslashes. `told`
// is false before Vista, where Windows cannot name an opened folder: `named` is then its long
// name. False when no part of it exists or can be opened.
bool NameLongestPart(const WCHAR *folder, WCHAR (&trimmed)[MAX_PATH], size_t &tail, WCHAR (&named)[MAX_PATH + 8], bool &told)
{
    WCHAR existing[MAX_PATH];
    if (!Copy(trimmed, folder))
        return false;
    size_t length = wcslen(trimmed);
    while (length > 3 && trimmed[length - 1] == L'\\')
        trimmed[--length] = 0;
    RootedFolder(trimmed, existing);
    tail = length;
    while (!PathIsDirectoryW(existing)) {
        WCHAR *slash = wcsrchr(existing, L'\\');
        if (!slash || slash < existing + 2 || (slash == existing + 2 && !slash[1]))
            return false;
        tail = (size_t)(slash - existing);
        slash[slash == existing + 2 ? 1 : 0] = 0;  // a drive root keeps its backslash
    }
    HANDLE opened = CreateFileW(existing, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (opened == INVALID_HANDLE_VALUE)
        return false;
    told = FinalNameOf(opened, named);
    CloseHandle(opened);
    if (told)
        return true;
    const WCHAR *start = wcsncmp(existing, L"\\\\?\\", 4) == 0 ? existing + 4 : existing;
    DWORD longLength = GetLongPathNameW(start, named, MAX_PATH + 8);
    return longLength > 0 && longLength < MAX_PATH + 8;
}

// "X:" at the start of `path`, or of the place Windows names "\\?\X:\...".
bool DriveLetterOf(const WCHAR *path, WCHAR &letter)
{
    const WCHAR *plain = wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path;
    letter = plain[0];
    return ((letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z')) && plain[1] == L':';
}

bool IsRemoteDrive(WCHAR letter)
{
    WCHAR root[4] = {letter, L':', L'\\', 0};
    return GetDriveTypeW(root) == DRIVE_REMOTE;
}

}

bool FolderOnNetwork(const WCHAR *folder)
{
    WCHAR letter;
    if (!folder || !DriveLetterOf(folder, letter) || IsRemoteDrive(letter))
        return true;
    WCHAR trimmed[MAX_PATH], named[MAX_PATH + 8];
    size_t tail = 0;
    bool told = false;
    // Nothing of it there: it is made on the drive it names.
    if (!NameLongestPart(folder, trimmed, tail, named, told))
        return false;
    // A link or junction on the way to a share, or a mapped drive Windows names by its share.
    return !DriveLetterOf(named, letter) || IsRemoteDrive(letter);
}

bool FinalFolderPath(const WCHAR *folder, WCHAR (&final)[MAX_PATH])
{
    final[0] = 0;
    WCHAR trimmed[MAX_PATH], named[MAX_PATH + 8];
    size_t tail = 0;
    bool told = false;
    if (!NameLongestPart(folder, trimmed, tail, named, told))
        return false;
    const WCHAR *plain = wcsncmp(named, L"\\\\?\\", 4) == 0 ? named + 4 : named;
    // A drive letter and a colon: a network share or a volume without a letter is not taken.
    WCHAR letter;
    if (!DriveLetterOf(plain, letter))
        return false;
    size_t plainLength = wcslen(plain);
    const WCHAR *rest = trimmed + tail;
    if (plainLength > 0 && plain[plainLength - 1] == L'\\' && *rest == L'\\')
        ++rest;
    WCHAR joined[MAX_PATH];
    if (!Format(joined, L"%s%s", plain, rest))
        return false;
    // A drive root keeps the spelling it was given, "D:" or "D:\", as the record has it.
    size_t joinedLength = wcslen(joined);
    if (joinedLength == 3 && joined[2] == L'\\' && trimmed[wcslen(trimmed) - 1] != L'\\')
        joined[2] = 0;
    return Copy(final, joined);
}
