#include "engine/InstallFolder.h"
#include "base/Format.h"
#include "base/SafePaths.h"
#include "engine/FileSystem.h"
#include "engine/FolderSecurity.h"
#include "engine/InstallRecord.h"
#include "engine/PayloadManifest.h"
#include <shlwapi.h>

namespace {

// What a walk through an install folder found.
struct TreeWalk {
    PSID self;
    size_t base;                    // characters of the install folder's own path
    PSECURITY_DESCRIPTOR reinherit; // when set, each object is made to inherit again first
    bool checkHeld;                 // whether folders someone holds open to change count
    bool foreign;                   // an object others own, or were given rights on of its own
    bool inherits;                  // an object others could change through what it inherits
    bool onlyBrowser;               // nothing but the browser's files and the folders they lie in
    bool held;                      // a folder someone holds open to write into or rename
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

bool IsBrowserFile(const WCHAR *relative)
{
    if (SameIgnoringCase(relative + 1, kRecordFileName) || SameIgnoringCase(relative, L"\\VelmarinSetup.record.new") ||
        SameIgnoringCase(relative, L"\\VelmarinSetup.journal"))
        return true;
    const CPayloadManifest &manifest = CPayloadManifest::Instance();
    for (int i = 0; i < manifest.FileCount(); ++i) {
        if (SameIgnoringCase(manifest.File(i).relative, relative))
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

void Judge(const WCHAR *path, TreeWalk &walk)
{
    switch (JudgePath(path, walk.self)) {
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
        if (!link && !isFolder && HasOtherNames(path)) {
            walk.foreign = true;
            break;
        }
        // Only an object whose owner and own entries are trusted is made to inherit: another
        // user's stays his, and refuses the folder.
        if (walk.reinherit && !link && JudgePath(path, walk.self) != kOthersByItsOwn)
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
            walk.onlyBrowser = false;
        }
    } while (!walk.foreign && FindNextFileW(search, &entry));
    FindClose(search);
}

TreeWalk StartWalk(const WCHAR *folder, PSID self)
{
    TreeWalk walk = {self, wcslen(folder), NULL, false, false, false, true, false};
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

// An existing folder others could change only through inheritance: protected at its top first,
// so that nobody else can add to it any more, then every object below made to inherit that,
// then all of it judged again as it now reads. Once the top is protected, a refusal is final.
bool ProtectExistingFolder(const WCHAR *folder, PSID self)
{
    if (JudgePath(folder, self) == kOthersByItsOwn)
        return false;
    PSECURITY_DESCRIPTOR descriptor = CreateInstallFolderDescriptor();
    bool applied = ApplyDescriptor(folder, descriptor);
    if (descriptor)
        LocalFree(descriptor);
    if (!applied) {
        // A volume that keeps no access lists (FAT) lets everyone change everything; one that
        // keeps them its own way may already protect the folder.
        return !PathOthersCouldChange(folder, kChangeInsideOf | kChangeRename, self);
    }
    TreeWalk walk = StartWalk(folder, self);
    walk.reinherit = CreateInheritingDescriptor();
    walk.checkHeld = true;
    bool ready = walk.reinherit != NULL && !HeldForChange(folder) && JudgePath(folder, self) == kOnlyTrustedCanChange;
    if (ready)
        WalkBelow(folder, walk, 0);
    if (walk.reinherit)
        LocalFree(walk.reinherit);
    return ready && !walk.foreign && !walk.inherits && !walk.held;
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
    plan.existed = plan.inProgramFiles = false;
    if (!RootedFolder(folder, plan.path))
        return;
    const WCHAR *path = plan.path;
    PSID self = CopyProcessUserSid();
    plan.decision = kFolderTrusted;
    plan.existed = PathIsDirectoryW(path) != FALSE;
    if (plan.existed) {
        DescriptorVerdict top = JudgePath(path, self);
        TreeWalk walk = StartWalk(path, self);
        if (top != kOthersByItsOwn)
            WalkBelow(path, walk, 0);
        if (top == kOthersByItsOwn || walk.foreign)
            plan.decision = kFolderRefused;
        else if (top == kOthersThroughInheritance || walk.inherits)
            plan.decision = walk.onlyBrowser ? kFolderToProtect : kFolderRefused;
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
    if (plan.decision != kFolderRefused && AboveChangeable(path, self))
        plan.decision = kFolderRefused;
    if (self)
        LocalFree(self);
}

// Makes a folder decided missing; in Program Files the new levels inherit, and what they
// inherit is judged before anything is put into them.
PreparedFolder MakeDecidedFolder(const FolderPlan &plan, bool &made)
{
    bool taken = false;
    if (!MakeMissingLevels(plan.path, plan.firstMissing, !plan.inProgramFiles, taken))
        return taken ? kFolderOthersCouldChange : kFolderNotMade;
    made = true;
    PSID self = CopyProcessUserSid();
    bool trusted = JudgePath(plan.firstMissing, self) == kOnlyTrustedCanChange;
    if (!trusted) {
        PSECURITY_DESCRIPTOR descriptor = CreateInstallFolderDescriptor();
        trusted = ApplyDescriptor(plan.firstMissing, descriptor) && JudgePath(plan.firstMissing, self) == kOnlyTrustedCanChange;
        if (descriptor)
            LocalFree(descriptor);
    }
    if (self)
        LocalFree(self);
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
        return kFolderOthersCouldChange;
    return plan.existed ? kFolderReady : MakeDecidedFolder(plan, made);
}

PreparedFolder PrepareInstallFolder(const WCHAR *folder, bool &made, bool &protectedNow)
{
    made = protectedNow = false;
    FolderPlan plan;
    DecideInstallFolder(folder, plan);
    if (plan.decision == kFolderRefused)
        return kFolderOthersCouldChange;
    // What was missing is made, never taken over: a folder that appeared since is refused.
    if (!plan.existed)
        return MakeDecidedFolder(plan, made);
    if (plan.decision != kFolderToProtect)
        return kFolderReady;
    PSID self = CopyProcessUserSid();
    protectedNow = ProtectExistingFolder(plan.path, self);
    if (self)
        LocalFree(self);
    return protectedNow ? kFolderReady : kFolderOthersCouldChange;
}

bool InstallationOthersCouldChange(const WCHAR *typed)
{
    WCHAR folder[MAX_PATH];
    if (!RootedFolder(typed, folder))
        return true;
    PSID self = CopyProcessUserSid();
    bool changeable = !PathIsDirectoryW(folder) || JudgePath(folder, self) != kOnlyTrustedCanChange ||
                      AboveChangeable(folder, self);
    if (!changeable) {
        TreeWalk walk = StartWalk(folder, self);
        WalkBelow(folder, walk, 0);
        changeable = walk.foreign || walk.inherits;
    }
    if (self)
        LocalFree(self);
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

bool FinalFolderPath(const WCHAR *folder, WCHAR (&final)[MAX_PATH])
{
    final[0] = 0;
    WCHAR trimmed[MAX_PATH], existing[MAX_PATH];
    if (!Copy(trimmed, folder))
        return false;
    size_t length = wcslen(trimmed);
    while (length > 3 && trimmed[length - 1] == L'\\')
        trimmed[--length] = 0;
    RootedFolder(trimmed, existing);
    // The longest part that exists is opened; the rest is yet to be made.
    size_t tail = length;
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
    WCHAR named[MAX_PATH + 8];
    bool told = FinalNameOf(opened, named);
    CloseHandle(opened);
    // Before Vista Windows cannot name an opened folder: the long names are what it can tell.
    if (!told) {
        const WCHAR *start = wcsncmp(existing, L"\\\\?\\", 4) == 0 ? existing + 4 : existing;
        DWORD length = GetLongPathNameW(start, named, MAX_PATH + 8);
        if (length == 0 || length >= MAX_PATH + 8)
            return false;
    }
    const WCHAR *plain = wcsncmp(named, L"\\\\?\\", 4) == 0 ? named + 4 : named;
    // A drive letter and a colon: a network share or a volume without a letter is not taken.
    if (!((plain[0] >= L'A' && plain[0] <= L'Z') || (plain[0] >= L'a' && plain[0] <= L'z')) || plain[1] != L':')
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
