// The install folder as the elevated setup and uninstaller may use it: decided, made or
// protected before anything is written into it, and judged as a whole, every object in it.
#pragma once
#include <windows.h>

// What the setup does with an install folder before it writes anything into it.
enum InstallFolderDecision {
    kFolderTrusted,    // only administrators can change it, what is in it and the folders above it
    kFolderToProtect,  // others could change it only through what it inherits (never with the
                       // right to change permissions), or the running account through what it
                       // owns or was given, and it holds nothing but the browser's files:
                       // taken over and protected as a whole, it is the setup's
    kFolderRefused,    // others own or were given a part of it, could change its permissions, or
                       // could change a folder above it; or it lies on a network drive
};
// A missing folder is decided by the folders above it that exist; the topmost level the setup
// makes is protected from its first moment, unless it lies in Program Files, where what it
// inherits is judged before anything is put into it. An existing folder is judged with every
// file and folder in it (the folders the browser's files lie in are entered; others are judged,
// not entered; a file with a second name is another's).

enum PreparedFolder {
    kFolderReady,             // it exists, and only administrators can change it
    kFolderOthersCouldChange, // refused; nothing was written into it
    kFolderOnNetwork,         // refused: it lies on a network drive or leads to one (FolderOnNetwork)
    kFolderNotMade,           // it could not be made (read-only media, a drive that went)
};
// The installation's road: decides about `folder`, then makes what is missing or protects an
// existing folder as a whole, top first, every object below made to inherit again and all of it
// judged once more. `made` tells whether this call made the folder; `protectedNow` whether it
// protected an existing one, whose earlier contents others could have written. A folder that
// appears between the decision and its making, or a name someone else takes, refuses it.
PreparedFolder PrepareInstallFolder(const WCHAR *folder, bool &made, bool &protectedNow);
// The custom page's road: the same decision; a missing folder is made as the installation would
// make it, an existing one is only judged (the installation protects it, before its first file).
PreparedFolder CheckInstallFolder(const WCHAR *folder, bool &made);

// For the uninstaller: whether someone else could have changed the install folder, a folder
// above it or anything the browser's files lie in: another user, or the account this process
// runs as where it is not trusted (see CRunningAccount). A folder that is gone, or on a network
// drive, counts as changed.
bool InstallationOthersCouldChange(const WCHAR *folder);

// Removes an empty folder this run made, through a handle that cannot have followed a link.
bool RemoveMadeFolder(const WCHAR *folder);

// Whether `folder` as typed leads through what others could change: a folder above it they
// could rename or replace, or a link or junction on the way (its own name included) they made or
// may change. Judged before its real place is looked up: what lies at the end of such a way is
// theirs to choose.
bool WayToFolderOthersCouldChange(const WCHAR *folder);

// Whether `folder` ("X:\..."), or the part of it that exists, lies on a network drive: its
// drive is remote (a mapped share), or Windows names it, once opened, by a share or by a remote
// drive (a link or junction on the way to one). True for anything not on a drive letter.
bool FolderOnNetwork(const WCHAR *folder);

// `folder` as Windows names it once opened: long names for short ones, the real place for a
// link or junction on the way, no "\\?\" prefix, a drive root spelled as given ("D:" or
// "D:\"). A tail that does not exist yet is kept as given. False when it cannot be told, or is
// not a local drive's path.
bool FinalFolderPath(const WCHAR *folder, WCHAR (&final)[MAX_PATH]);
