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

// What the setup does with an install folder before it writes anything into it.
enum InstallFolderDecision {
    kFolderTrusted,    // only administrators can change it and the folders above it
    kFolderToProtect,  // others could change it, but it holds nothing but the browser's files
    kFolderRefused,    // others could change a folder above it, or it and what it holds
};
// The folder need not exist yet: then the folders above it that exist decide, and the setup
// protects the topmost one it will make, unless that lies in Program Files. `protect` receives
// the folder to protect with kFolderToProtect, once it exists.
InstallFolderDecision DecideInstallFolder(const WCHAR *folder, WCHAR (&protect)[MAX_PATH]);
// For the uninstaller: whether someone else could have changed the install folder or a folder
// above it, the record or the uninstaller in it. A folder that is gone counts as changed.
bool InstallationOthersCouldChange(const WCHAR *folder);

// Applies CreateInstallFolderDescriptor to `folder` and everything in it. True when it did, or
// when the folder reads back as one only administrators can change.
bool ProtectInstallFolder(const WCHAR *folder);
// True when `folder` lies in one of the system's Program Files folders, which protect it already.
bool IsInProgramFiles(const WCHAR *folder);

// How descriptors are read and applied. Debian's Wine keeps no access lists, so the tests feed
// descriptors as Windows has them through these; null restores the system's own.
struct FolderSecurityHooks {
    PSECURITY_DESCRIPTOR (*read)(const WCHAR *path);  // owner and access list; LocalFree'd by the caller
    bool (*apply)(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor);
};
void SetFolderSecurityHooks(const FolderSecurityHooks *hooks);

// Gives a folder this process has just made `descriptor`, through the hooks above. False when it
// could not be applied (a volume that keeps no access lists): then the folder is not protected.
bool ApplyFolderDescriptor(const WCHAR *folder, PSECURITY_DESCRIPTOR descriptor);
