// The folder the payload unpacks into, and every folder and file it makes there, each made new
// and opened in one step through the handle of the folder it lies in: no name is looked up twice,
// so no link put in between is ever followed, and nothing that was there is written into.
#pragma once
#include <windows.h>
#include "tools/payload/unpacker/UnpackRules.h"

class CFolderTree {
public:
    CFolderTree();
    // Lets go of the folders: only then can they be renamed or removed.
    ~CFolderTree();
    // Makes `folder` (its parent must exist), or takes it if it is an empty folder already (the
    // setup makes and holds it first). Refused: a link, a file, a folder with anything in it.
    UnpackOutcome Open(const WCHAR *folder);
    // Makes the file `relative` ("\" first) new for writing, reading shared, and its folders
    // below the root as far as they are missing; INVALID_HANDLE_VALUE when any of them is there
    // already, as a file or a folder this run did not make, or cannot be made.
    HANDLE CreateNewFile(const WCHAR *relative);

private:
    HANDLE FolderOf(const WCHAR *relative, size_t length);
    HANDLE CreateIn(HANDLE folder, const WCHAR *name, size_t length, bool directory);

    enum { kMaxFolders = 512 };
    struct Folder {
        WCHAR *relative;  // "\Skin\Frost_Glass"; "" for the root
        HANDLE handle;
    };
    Folder m_folders[kMaxFolders];
    int m_count;

    CFolderTree(const CFolderTree &);
    CFolderTree &operator=(const CFolderTree &);
};
