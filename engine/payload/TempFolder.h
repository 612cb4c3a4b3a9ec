// The temporary work folder of an elevated setup. The payload is written and run from here, so
// no other process may have put or replaced anything in it: the folder is always new, and only
// administrators and the system may change it.
#pragma once
#include <windows.h>

// Creates a folder that did not exist, with a protected access list: Administrators and SYSTEM
// full control, the installing user read and execute. False if it existed or could not be made.
bool CreateProtectedFolder(const WCHAR *path);
// The same, the folder made and opened in one step, so that it can be neither renamed nor
// removed, nor replaced by a folder or link of someone else's, until the handle is closed; and
// the list applied once more through the folder security hooks while it is empty. INVALID_HANDLE_VALUE also where that fails, as on a
// volume that keeps no access lists: then the folder is taken away again and GetLastError says
// ERROR_NO_SECURITY_ON_OBJECT.
HANDLE CreateHeldFolderOnlyAdministratorsChange(const WCHAR *path);

// The security descriptor such a folder is created with; the caller frees it with LocalFree.
PSECURITY_DESCRIPTOR CreateProtectedFolderDescriptor();

enum { kTempRootAttempts = 10000 };

// Creates "<tempPath><number>" as a new protected folder and returns its path: `first` as the
// number, or when that name is taken, random numbers until a name is free. False when no
// folder could be made.
bool CreateFreshTempRoot(const WCHAR *tempPath, int first, WCHAR (&root)[MAX_PATH]);
// The same in the Windows folder's Temp, which only administrators can change, unlike a user's
// own temporary folder.
bool CreateFreshWindowsTempRoot(WCHAR (&root)[MAX_PATH]);
// The same, made, held and protected as CreateHeldFolderOnlyAdministratorsChange does: the root of
// the extraction. The elevated setup unpacks nowhere else: the user's own temporary folder, and any
// folder on the way to it, is his to change, to lead elsewhere through a junction or to serve
// from a drive of his, between any check and any use. INVALID_HANDLE_VALUE when no folder could
// be made there, or protected.
HANDLE CreateHeldWindowsTempRoot(WCHAR (&root)[MAX_PATH]);

// Opens a folder so that it can be neither renamed nor removed until the handle is closed;
// INVALID_HANDLE_VALUE on failure.
HANDLE LockFolder(const WCHAR *path);

// Removes a folder tree now; whatever cannot be removed (files first, then folders from the
// deepest up, the folder itself last) is scheduled for removal at the next restart. Junctions
// and links are removed themselves, never followed.
void RemoveTreeOrScheduleAtRestart(const WCHAR *folder);
// The same for everything in `folder`, the folder itself staying: for a folder held open
// meanwhile, so that it cannot be swapped for another while its contents go.
void RemoveContentsOrScheduleAtRestart(const WCHAR *folder);
// The same, but what cannot go now stays: for places a user can change before the next restart.
void RemoveTreeNow(const WCHAR *folder);
// Leaves `folder` where it is, to be removed at the next restart if it is empty then.
void ScheduleRemovalAtRestart(const WCHAR *folder);
