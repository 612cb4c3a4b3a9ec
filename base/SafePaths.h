// Files and folders below a folder the caller trusts, reached without following any link or
// junction and changed through the handle that was checked: whoever may change what lies below
// the trusted folder cannot turn a deletion or a rename towards anything outside it.
#pragma once
#include <windows.h>

// Opens the file or folder `path` itself, a link or junction included, never what one points at.
HANDLE OpenObjectItself(const WCHAR *path, DWORD access,
                        DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
// Marks an opened file, or empty folder, for deletion: it goes when the last handle closes. The
// handle needs DELETE access, and FILE_WRITE_ATTRIBUTES when `attributes` (the file's) say it
// is read-only, which is taken away first.
bool MarkForDeletion(HANDLE handle, DWORD attributes = 0);
// Where Windows names an opened object ("\\?\C:\..."); false where it cannot say (before
// Vista, or a file system that does not tell).
bool FinalNameOf(HANDLE handle, WCHAR (&name)[MAX_PATH + 8]);

class CHeldPath {
public:
    CHeldPath();
    ~CHeldPath();

    // Opens "<trustedFolder><relative>" for `access`, shared as DeleteFileW shares it; add DELETE
    // to delete or rename it, FILE_WRITE_ATTRIBUTES to delete a read-only file. `relative` is
    // "\name" parts, none of them empty, "." or "..", without "/" or ":" (else ERROR_BAD_PATHNAME).
    // The trusted folder is opened as it is named; every part below it without following a
    // reparse point, and refused when it is one or when Windows names the opened object
    // otherwise. The trusted folder and the folders on the way stay open without delete sharing
    // until Close, so that none of them can be renamed or replaced meanwhile. False with the
    // last error: ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when a part is missing,
    // ERROR_CANT_ACCESS_FILE when one is a link or junction.
    bool Open(const WCHAR *trustedFolder, const WCHAR *relative, DWORD access);
    void Close();
    HANDLE Handle() const { return m_handle; }
    bool IsFolder() const { return (m_attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

    // Marks the opened file, or empty folder, for deletion: it goes when the handle is closed.
    bool Delete();
    // Gives the opened file the name `name` (no backslash) in the folder it is in, replacing a
    // file of that name when `replace`.
    bool Rename(const WCHAR *name, bool replace);

private:
    // The trusted folder, then each folder on the way, held.
    enum { kMaxFolders = MAX_PATH / 2 + 1 };
    HANDLE m_folders[kMaxFolders];
    int m_folderCount;
    HANDLE m_handle;
    DWORD m_attributes;

    CHeldPath(const CHeldPath &);
    CHeldPath &operator=(const CHeldPath &);
};
