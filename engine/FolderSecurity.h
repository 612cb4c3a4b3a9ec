// Who could change the install folder. The setup and the uninstaller run with administrator
// rights in it: a folder that other users can write into, or rename or replace along with a
// folder above it, would let them turn either program against the machine.
#pragma once
#include <windows.h>

// The protection Program Files has, for a folder of the browser's outside it: its own access
// list (nothing inherited from above), full control for Administrators and SYSTEM, reading and
// running for Users, owner Administrators; files and folders below inherit it. LocalFree it.
PSECURITY_DESCRIPTOR CreateInstallFolderDescriptor();

// Whether anyone but Administrators, SYSTEM, TrustedInstaller and `self` (the signed-in
// administrator, whose own rights Windows does not defend against him) could, by `descriptor`:
//   kInsideOf  write into the folder or change its permissions or owner;
//   kRename    rename or replace the folder (DELETE on it), or change its permissions or owner;
//   kChildren  rename or replace what lies in it (FILE_DELETE_CHILD), or change its permissions.
// Deny entries are not weighed: a folder is trusted only for what its allow entries grant.
enum FolderChange { kChangeInsideOf = 1, kChangeRename = 2, kChangeChildren = 4 };
bool OthersCouldChange(PSECURITY_DESCRIPTOR descriptor, int changes, PSID self);

// The user this process runs as; LocalFree it. Null when it cannot be read.
PSID CopyProcessUserSid();

// How an object of an install folder stands, by its descriptor: whether anyone but the trusted
// accounts above could change it, write into it or change what is made in it, and if so whether
// only through entries it inherits (which protecting the folder above it takes away) or through
// its owner or entries of its own (which stay).
enum DescriptorVerdict { kOnlyTrustedCanChange, kOthersThroughInheritance, kOthersByItsOwn };
DescriptorVerdict JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, PSID self);

// Reads the descriptor of `path` through the hooks below and judges it as JudgeDescriptor does,
// or, with `changes`, as OthersCouldChange does.
DescriptorVerdict JudgePath(const WCHAR *path, PSID self);
bool PathOthersCouldChange(const WCHAR *path, int changes, PSID self);
// Whether files made or moved into the folder `path` take on entries from it, read through the
// hooks below. Where it passes nothing down, a file made to inherit ends with an empty access
// list (no access for anyone), while a file created there gets its maker's default list.
bool PathPassesDownToFiles(const WCHAR *path);
// Applies `descriptor` to `path`, through the hooks below.
bool ApplyDescriptor(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor);
// Makes the folder `path` carrying `descriptor` from its first moment, through the hooks below.
// False when the name is taken (GetLastError tells).
bool CreateFolderWithSecurity(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor);
// An empty access list that is not protected: the object takes on what its folder passes down.
// LocalFree it.
PSECURITY_DESCRIPTOR CreateInheritingDescriptor();

// True when `folder` lies in one of the system's Program Files folders, which protect it already.
bool IsInProgramFiles(const WCHAR *folder);

// How descriptors are read and applied. Debian's Wine keeps no access lists, so the tests feed
// descriptors as Windows has them through these; null restores the system's own.
struct FolderSecurityHooks {
    PSECURITY_DESCRIPTOR (*read)(const WCHAR *path);  // owner and access list; LocalFree'd by the caller
    bool (*apply)(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor);
    bool (*create)(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor);  // a new folder; null: the system's
};
void SetFolderSecurityHooks(const FolderSecurityHooks *hooks);

