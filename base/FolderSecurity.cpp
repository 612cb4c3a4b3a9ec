#include "base/FolderSecurity.h"
#include "base/Format.h"
#include "base/SafePaths.h"
#include "base/PathNames.h"
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <stdlib.h>

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

PSECURITY_DESCRIPTOR CreateOnlyAdministratorsFileDescriptor()
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)", SDDL_REVISION_1,
                                                              &descriptor, NULL))
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

static bool IsCreatorOwner(PSID sid)
{
    SID_IDENTIFIER_AUTHORITY creator = SECURITY_CREATOR_SID_AUTHORITY;
    return IsValidSid(sid) && memcmp(GetSidIdentifierAuthority(sid), &creator, sizeof(creator)) == 0 &&
           *GetSidSubAuthorityCount(sid) == 1 && *GetSidSubAuthority(sid, 0) == SECURITY_CREATOR_OWNER_RID;
}

// Allow entries of kinds the judgements below do not read (object and conditional ones): they
// may allow anything, so an access list that carries one is not trusted.
static bool IsUnweighedAllowEntry(BYTE type)
{
    return type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE || type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
           type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
}

static ACCESS_MASK RightsThatChange(int changes)
{
    // The generic rights a descriptor may carry, mapped as the file system maps them.
    ACCESS_MASK rights = WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
    // Writing attributes or extended attributes may make an empty folder a junction.
    if (changes & kChangeInsideOf)
        rights |= FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES |
                  FILE_WRITE_EA;
    if (changes & kChangeRename)
        rights |= DELETE;
    if (changes & kChangeChildren)
        rights |= FILE_DELETE_CHILD;
    return rights;
}

// The access list of a descriptor only trusted accounts own; null when it cannot be read, when
// someone else owns it (an owner may always change the permissions) or when it has none
// (everyone may do everything).
static PACL TrustedOwnersList(PSECURITY_DESCRIPTOR descriptor, PSID self)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOL present = FALSE, defaulted = FALSE;
    if (!descriptor || !IsValidSecurityDescriptor(descriptor) || !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !IsTrustedSid(owner, self) || !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present)
        return NULL;
    return dacl;
}

bool OthersCouldChange(PSECURITY_DESCRIPTOR descriptor, int changes, PSID self)
{
    PACL dacl = TrustedOwnersList(descriptor, self);
    if (!dacl)
        return true;
    ACCESS_MASK rights = RightsThatChange(changes);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER *header = NULL;
        if (!GetAce(dacl, i, (void **)&header))
            return true;
        if (IsUnweighedAllowEntry(header->AceType))
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

static bool IsAccount(PSID sid, PSID account)
{
    return account && sid && IsValidSid(account) && IsValidSid(sid) && EqualSid(sid, account);
}

DescriptorVerdict JudgeDescriptor(PSECURITY_DESCRIPTOR descriptor, PSID self)
{
    PACL dacl = TrustedOwnersList(descriptor, self);
    if (!dacl)
        return kOthersByItsOwn;
    DescriptorVerdict verdict = kOnlyTrustedCanChange;
    ACCESS_MASK rights = RightsThatChange(kChangeInsideOf | kChangeRename);
    // A handle opened with these keeps them after any protection: such an entry refuses the
    // object even where it is only inherited.
    const ACCESS_MASK permissions = WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER *header = NULL;
        if (!GetAce(dacl, i, (void **)&header))
            return kOthersByItsOwn;
        if (IsUnweighedAllowEntry(header->AceType))
            return kOthersByItsOwn;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        // An entry only for what is made below counts too: it lets others change the files the
        // setup puts there. The creator of such a file is the setup itself.
        ACCESS_ALLOWED_ACE *allowed = (ACCESS_ALLOWED_ACE *)header;
        PSID sid = &allowed->SidStart;
        bool onlyBelow = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
        if (!(allowed->Mask & rights) || IsTrustedSid(sid, self) || (onlyBelow && IsCreatorOwner(sid)))
            continue;
        if (!(header->AceFlags & INHERITED_ACE) || (allowed->Mask & permissions))
            return kOthersByItsOwn;
        verdict = kOthersThroughInheritance;
    }
    return verdict;
}

PSECURITY_DESCRIPTOR CreateInheritingDescriptor()
{
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:AI", SDDL_REVISION_1, &descriptor, NULL))
        return NULL;
    return descriptor;
}

static PSECURITY_DESCRIPTOR ReadSystemSecurity(const WCHAR *path)
{
    // The object itself, a link included, never what a link points at.
    HANDLE object = OpenObjectItself(path, READ_CONTROL);
    if (object == INVALID_HANDLE_VALUE)
        return NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, NULL, NULL,
                        NULL, NULL, &descriptor) != ERROR_SUCCESS)
        descriptor = NULL;
    CloseHandle(object);
    return descriptor;
}

static bool ApplySystemSecurity(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor)
{
    PSID owner = NULL;
    PACL dacl = NULL;
    BOOL present = FALSE, defaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
        !GetSecurityDescriptorControl(descriptor, &control, &revision))
        return false;
    // Through a handle that cannot have followed a link: the object judged is the one changed.
    HANDLE object = OpenObjectItself(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER);
    if (object == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool applied = false;
    // A file with a second name may be another folder's file: its protection is not ours to set.
    if (GetFileInformationByHandle(object, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || info.nNumberOfLinks == 1)) {
        // A protected list replaces what was inherited; an unprotected one takes on what the
        // folder above passes down.
        SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                    ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                   : UNPROTECTED_DACL_SECURITY_INFORMATION);
        applied = SetSecurityInfo(object, SE_FILE_OBJECT, what, owner, NULL, dacl, NULL) == ERROR_SUCCESS;
    }
    CloseHandle(object);
    return applied;
}

static bool CreateSystemFolder(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor)
{
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor;
    return CreateDirectoryW(path, &attributes) != FALSE;
}

static const FolderSecurityHooks kSystemHooks = {ReadSystemSecurity, ApplySystemSecurity, CreateSystemFolder};
static const FolderSecurityHooks *g_hooks = &kSystemHooks;
// Whether the running account counts among the trusted: unknown (-1) until first asked, and
// again whenever the hooks change.
static volatile LONG g_accountTrusted = -1;

DescriptorVerdict JudgePath(const WCHAR *path, PSID self)
{
    PSECURITY_DESCRIPTOR descriptor = g_hooks->read(path);
    DescriptorVerdict verdict = JudgeDescriptor(descriptor, self);
    if (descriptor)
        LocalFree(descriptor);
    return verdict;
}

bool PathOthersCouldChange(const WCHAR *path, int changes, PSID self)
{
    PSECURITY_DESCRIPTOR descriptor = g_hooks->read(path);
    bool changeable = OthersCouldChange(descriptor, changes, self);
    if (descriptor)
        LocalFree(descriptor);
    return changeable;
}

bool PathPassesDownToFiles(const WCHAR *path)
{
    PSECURITY_DESCRIPTOR descriptor = g_hooks->read(path);
    PACL dacl = NULL;
    BOOL present = FALSE, defaulted = FALSE;
    bool passes = false;
    if (descriptor && GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present && dacl) {
        for (DWORD i = 0; i < dacl->AceCount && !passes; ++i) {
            ACE_HEADER *header = NULL;
            passes = GetAce(dacl, i, (void **)&header) && (header->AceFlags & OBJECT_INHERIT_ACE);
        }
    }
    if (descriptor)
        LocalFree(descriptor);
    return passes;
}

bool ApplyDescriptor(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor)
{
    return descriptor && g_hooks->apply(path, descriptor);
}

bool CreateFolderWithSecurity(const WCHAR *path, PSECURITY_DESCRIPTOR descriptor)
{
    return (g_hooks->create ? g_hooks->create : CreateSystemFolder)(path, descriptor);
}

void SetFolderSecurityHooks(const FolderSecurityHooks *hooks)
{
    g_hooks = hooks ? hooks : &kSystemHooks;
    InterlockedExchange(&g_accountTrusted, -1);
}

// Makes a folder of its own in the Windows folder's Temp, asking for Administrators as its owner,
// and reads back whom it came out owned by: where that is the account, the file system keeps no
// owners apart. Not where it cannot be told.
static bool MadeFoldersComeOutOwnedBy(PSID account)
{
    WCHAR windows[MAX_PATH], probe[MAX_PATH];
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    PSECURITY_DESCRIPTOR asked = CreateInstallFolderDescriptor();
    bool owned = false;
    for (int attempt = 0; asked && length > 0 && length < MAX_PATH && attempt < 16; ++attempt) {
        // A name someone else took first is passed over: only a folder this call made is read.
        if (!Format(probe, L"%s\\Temp\\VelmarinOwner-%lu-%lu", windows, GetCurrentProcessId(), GetTickCount() + attempt) ||
            !CreateSystemFolder(probe, asked))
            continue;
        PSECURITY_DESCRIPTOR read = g_hooks->read(probe);
        PSID owner = NULL;
        BOOL defaulted = FALSE;
        owned = read && GetSecurityDescriptorOwner(read, &owner, &defaulted) && IsAccount(owner, account);
        if (read)
            LocalFree(read);
        RemoveDirectoryW(probe);
        break;
    }
    if (asked)
        LocalFree(asked);
    return owned;
}

CRunningAccount::CRunningAccount() : m_sid(CopyProcessUserSid()), m_bTrusted(false)
{
    if (!m_sid)
        return;
    LONG known = InterlockedCompareExchange(&g_accountTrusted, -1, -1);
    if (known < 0) {
        known = MadeFoldersComeOutOwnedBy(m_sid) ? 1 : 0;
        InterlockedExchange(&g_accountTrusted, known);
    }
    m_bTrusted = known == 1;
}

CRunningAccount::~CRunningAccount()
{
    if (m_sid)
        LocalFree(m_sid);
}

// Whether this process's token holds the Administrators group, enabled, as one it may make the
// owner of what it makes.
bool MayOwnAsAdministrators()
{
    HANDLE token = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, NULL, 0, &size);
    TOKEN_GROUPS *groups = size ? (TOKEN_GROUPS *)LocalAlloc(LPTR, size) : NULL;
    bool may = false;
    if (groups && GetTokenInformation(token, TokenGroups, groups, size, &size)) {
        for (DWORD i = 0; i < groups->GroupCount && !may; ++i) {
            DWORD attributes = groups->Groups[i].Attributes;
            may = IsWellKnownSid(groups->Groups[i].Sid, WinBuiltinAdministratorsSid) && (attributes & SE_GROUP_ENABLED) &&
                  (attributes & SE_GROUP_OWNER) && !(attributes & SE_GROUP_USE_FOR_DENY_ONLY);
        }
    }
    LocalFree(groups);
    CloseHandle(token);
    return may;
}

void OwnWhatThisProcessMakesAsAdministrators()
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    HANDLE token = NULL;
    if (!MayOwnAsAdministrators() || !CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, administrators, &size) ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_DEFAULT, &token))
        return;
    TOKEN_OWNER owner = {(PSID)administrators};
    SetTokenInformation(token, TokenOwner, &owner, sizeof(owner));
    CloseHandle(token);
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
