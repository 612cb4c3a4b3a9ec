#include "engine/FolderSecurity.h"
#include "base/Format.h"
#include "engine/InstallRecord.h"
#include "engine/PayloadManifest.h"
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>

PSECURITY_DESCRIPTOR CreateInstallFolderDescriptor()
{
    // P: protected from what lies above; AI: entries below follow it; 0x1200a9 is reading and
    // running (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE).
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1, &descriptor, NULL))
        return NULL;
    return descriptor;
}

static bool IsTrustedSid(PSID sid, PSID self)
{
    static const WCHAR *const trusted[] = {
        L"S-1-5-32-544",  // Administrators
        L"S-1-5-18",      // SYSTEM
        L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",  // TrustedInstaller
    };
    if (!sid || !IsValidSid(sid))
        return false;
    if (self && IsValidSid(self) && EqualSid(sid, self))
        return true;
    for (const WCHAR *text : trusted) {
        PSID known = NULL;
        if (!ConvertStringSidToSidW(text, &known))
            continue;
        bool same = EqualSid(sid, known) != FALSE;
        LocalFree(known);
        if (same)
            return true;
    }
    return false;
}

static ACCESS_MASK RightsThatChange(int changes)
{
    // The generic rights a descriptor may carry, mapped as the file system maps them.
    ACCESS_MASK rights = WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
    if (changes & kChangeInsideOf)
        rights |= FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | GENERIC_WRITE;
    if (changes & kChangeRename)
        rights |= DELETE;
    if (changes & kChangeChildren)
        rights |= FILE_DELETE_CHILD;
    return rights;
}

bool OthersCouldChange(PSECURITY_DESCRIPTOR descriptor, int changes, PSID self)
{
    if (!descriptor || !IsValidSecurityDescriptor(descriptor))
        return true;
    // The owner may always change the permissions.
    PSID owner = NULL;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || !IsTrustedSid(owner, self))
        return true;
    BOOL present = FALSE;
    PACL dacl = NULL;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || !dacl)
        return true;  // no access list: everyone may do everything
    ACCESS_MASK rights = RightsThatChange(changes);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER *header = NULL;
        if (!GetAce(dacl, i, (void **)&header))
            return true;
        // Entries only for what is made below do not apply to the folder itself.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        ACCESS_ALLOWED_ACE *allowed = (ACCESS_ALLOWED_ACE *)header;
        if ((allowed->Mask & rights) && !IsTrustedSid(&allowed->SidStart, self))
            return true;
    }
    return false;
}

static PSECURITY_DESCRIPTOR ReadSystemSecurity(const WCHAR *path)
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetNamedSecurityInfoW(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, NULL, NULL,
                              NULL, NULL, &descriptor) != ERROR_SUCCESS)
        return NULL;
    return descriptor;
}

static bool ApplySystemSecurity(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOL present = FALSE, defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        return false;
    WCHAR copy[MAX_PATH];
    if (!Copy(copy, path))
        return false;
    // The protected list replaces what was inherited, and everything below takes it on.
    return SetNamedSecurityInfoW(copy, SE_FILE_OBJECT,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 owner, NULL, dacl, NULL) == ERROR_SUCCESS;
}

static const FolderSecurityHooks kSystemHooks = {ReadSystemSecurity, ApplySystemSecurity};
static const FolderSecurityHooks *g_hooks = &kSystemHooks;

void SetFolderSecurityHooks(const FolderSecurityHooks *hooks)
{
    g_hooks = hooks ? hooks : &kSystemHooks;
}

PSID CopyProcessUserSid()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return NULL;
    BYTE buffer[256];
    DWORD size = 0;
    PSID copy = NULL;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size)) {
        PSID sid = ((TOKEN_USER *)buffer)->User.Sid;
        DWORD length = GetLengthSid(sid);
        copy = LocalAlloc(LMEM_FIXED, length);
        if (copy && !CopySid(length, copy, sid)) {
            LocalFree(copy);
            copy = NULL;
        }
    }
    CloseHandle(token);
    return copy;
}

static bool Changeable(const WCHAR *path, int changes, PSID self)
{
    PSECURITY_DESCRIPTOR descriptor = g_hooks->read(path);
    bool changeable = OthersCouldChange(descriptor, changes, self);
    if (descriptor)
        LocalFree(descriptor);
    return changeable;
}

// The entries below `folder`, relative ("\Skin\skin.ini"), are all the browser's: files the
// payload names and the setup's own. A link or junction is not the browser's.
static bool HoldsOnlyBrowserFiles(const WCHAR *folder, size_t base)
{
    WCHAR pattern[MAX_PATH];
    if (!Format(pattern, L"%s\\*", folder))
        return false;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool only = true;
    do {
        if (lstrcmpW(entry.cFileName, L".") == 0 || lstrcmpW(entry.cFileName, L"..") == 0)
            continue;
        WCHAR path[MAX_PATH];
        if (!Format(path, L"%s\\%s", folder, entry.cFileName) || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            only = false;
        } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            only = HoldsOnlyBrowserFiles(path, base);
        } else {
            const WCHAR *relative = path + base;
            const CPayloadManifest &manifest = CPayloadManifest::Instance();
            bool known = SameIgnoringCase(relative + 1, kRecordFileName) ||
                         SameIgnoringCase(relative, L"\\VelmarinSetup.record.new") ||
                         SameIgnoringCase(relative, L"\\VelmarinSetup.journal");
            for (int i = 0; !known && i < manifest.FileCount(); ++i)
                known = SameIgnoringCase(manifest.File(i).relative, relative);
            only = known;
        }
    } while (only && FindNextFileW(search, &entry));
    FindClose(search);
    return only;
}

// Whether someone else could rename a folder above `path` or what lies in it, up to its drive
// root: a root cannot be renamed, what lies in it can.
static bool AboveChangeable(const WCHAR *folder, PSID self)
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
        if (PathIsDirectoryW(path) && Changeable(path, kChangeChildren | (root ? 0 : kChangeRename), self))
            return true;
        if (root)
            return false;
    }
}

bool InstallationOthersCouldChange(const WCHAR *folder)
{
    PSID self = CopyProcessUserSid();
    bool changeable = !PathIsDirectoryW(folder) || Changeable(folder, kChangeInsideOf | kChangeRename, self) ||
                      AboveChangeable(folder, self);
    const WCHAR *const own[] = {kRecordFileName, L"UnInst.exe"};
    for (const WCHAR *name : own) {
        WCHAR path[MAX_PATH];
        if (!changeable && (!Format(path, L"%s\\%s", folder, name) ||
                            (PathFileExistsW(path) && Changeable(path, kChangeInsideOf | kChangeRename, self))))
            changeable = true;
    }
    if (self)
        LocalFree(self);
    return changeable;
}

InstallFolderDecision DecideInstallFolder(const WCHAR *folder, WCHAR (&protect)[MAX_PATH])
{
    protect[0] = 0;
    WCHAR path[MAX_PATH];
    if (!Copy(path, folder))
        return kFolderRefused;
    size_t length = wcslen(path);
    while (length > 3 && path[length - 1] == L'\\')
        path[--length] = 0;
    PSID self = CopyProcessUserSid();
    InstallFolderDecision decision = kFolderTrusted;
    if (PathIsDirectoryW(path)) {
        if (Changeable(path, kChangeInsideOf | kChangeRename, self)) {
            decision = HoldsOnlyBrowserFiles(path, wcslen(path)) ? kFolderToProtect : kFolderRefused;
            Copy(protect, path);
        }
    } else if (!IsInProgramFiles(path)) {
        // The topmost level the setup will make: everything it makes below inherits from it.
        Copy(protect, path);
        WCHAR above[MAX_PATH];
        Copy(above, path);
        for (WCHAR *slash = wcsrchr(above, L'\\'); slash && slash > above + 2; slash = wcsrchr(above, L'\\')) {
            *slash = 0;
            if (PathIsDirectoryW(above))
                break;
            Copy(protect, above);
        }
        decision = kFolderToProtect;
    }
    if (decision != kFolderRefused && AboveChangeable(path, self))
        decision = kFolderRefused;
    if (self)
        LocalFree(self);
    if (decision != kFolderToProtect)
        protect[0] = 0;
    return decision;
}

bool ProtectInstallFolder(const WCHAR *folder)
{
    PSECURITY_DESCRIPTOR descriptor = CreateInstallFolderDescriptor();
    if (!descriptor)
        return false;
    bool applied = g_hooks->apply(folder, descriptor);
    LocalFree(descriptor);
    if (applied)
        return true;
    // A volume that keeps no access lists (FAT) lets everyone change everything; one that keeps
    // them its own way may already protect the folder.
    PSID self = CopyProcessUserSid();
    bool trusted = !Changeable(folder, kChangeInsideOf | kChangeRename, self);
    if (self)
        LocalFree(self);
    return trusted;
}

bool IsInProgramFiles(const WCHAR *folder)
{
    const int places[] = {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86};
    for (int place : places) {
        WCHAR programFiles[MAX_PATH] = L"";
        if (SUCCEEDED(SHGetFolderPathW(NULL, place, NULL, SHGFP_TYPE_CURRENT, programFiles)) && programFiles[0] &&
            IsPathWithin(folder, programFiles))
            return true;
    }
    // A 32-bit process on 64-bit Windows is told "Program Files (x86)" for both.
    WCHAR native[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"ProgramW6432", native, MAX_PATH);
    return length > 0 && length < MAX_PATH && IsPathWithin(folder, native);
}

bool ApplyFolderDescriptor(const WCHAR *folder, PSECURITY_DESCRIPTOR descriptor)
{
    return folder && folder[0] && descriptor && g_hooks->apply(folder, descriptor);
}
