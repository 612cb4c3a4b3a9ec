#include "deploy/PackagePrograms.h"
#include "base/FolderSecurity.h"
#include "base/Format.h"
#include "base/PathNames.h"
#include "base/SafePaths.h"
#include "engine/folder/InstallFolder.h"
#include <wchar.h>

HANDLE HoldPackageProgram(const WCHAR *program, const WCHAR *name)
{
    const size_t nameLength = wcslen(name);
    size_t length = program ? wcslen(program) : 0;
    WCHAR folder[MAX_PATH];
    if (length <= nameLength || length >= MAX_PATH || !SameIgnoringCase(program + length - nameLength, name) ||
        !FormatText(folder, ARRAYSIZE(folder), L"%.*s", (int)(length - nameLength), program))
        return INVALID_HANDLE_VALUE;
    // Held before it is judged: what is judged is what runs.
    HANDLE held = OpenObjectItself(program, GENERIC_READ, FILE_SHARE_READ);
    if (held == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info = {};
    CRunningAccount account;
    bool sound = GetFileInformationByHandle(held, &info) &&
                 !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
                 info.nNumberOfLinks == 1 && !FolderOnNetwork(folder) && !WayToFolderOthersCouldChange(folder) &&
                 JudgePath(folder, account.Trusted()) == kOnlyTrustedCanChange &&
                 JudgePath(program, account.Trusted()) == kOnlyTrustedCanChange;
    if (!sound) {
        CloseHandle(held);
        return INVALID_HANDLE_VALUE;
    }
    return held;
}
