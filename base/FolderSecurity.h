// Who could change the install folder. The setup and the uninstaller run with administrator
// rights in it: a folder that other users can write into, or rename or replace along with a
// folder above it, would let them turn either program against the machine.
#pragma once
#include <windows.h>

// The protection Program Files has, for a folder of the browser's outside it: its own access
// list (nothing inherited from above), full control for Administrators and SYSTEM, reading and
// running for Users, owner Administrators; files and folders below inherit it. LocalFree it.
PSECURITY_DESCRIPTOR CreateInstallFolderDescriptor();

// For a file of the install folder that no program but the elevated ones reads: full control for
// Administrators and SYSTEM, nothing for anyone else, nothing inherited. Nobody else can open
// it, and so nobody can hold it open so that it cannot be replaced. LocalFree it.
PSECURITY_DESCRIPTOR CreateOnlyAdministratorsFileDescriptor();

// Whether anyone but Administrators, SYSTEM, TrustedInstaller and `self` (the account this
// process runs as, where it counts among them: see CRunningAccount) could, by `descriptor`:
//   kInsideOf  write into the folder or change its permissions or owner;
//   kRename    rename or replace the folder (DELETE on it), or change its permissions or owner;
//   kChildren  rename or replace what lies in it (FILE_DELETE_CHILD), or change its permissions.
// Deny entries are not weighed: a folder is trusted only for what its allow entries grant.
enum FolderChange { kChangeInsideOf = 1, kChangeRename = 2, kChangeChildren = 4 };
bool OthersCouldChange(PSECURITY_DESCRIPTOR descriptor, int changes, PSID self);

// The user this process runs as; LocalFree it. Null when it cannot be read.
PSID CopyProcessUserSid();

// Whether this process's token holds the Administrators group, enabled, as one it may make the
// owner of what it makes.
bool MayOwnAsAdministrators();
// Makes Administrators the owner of everything this process makes from now on, where its token
// may: a policy that gives administrators' objects to their creator would make the account
// itself their owner, and an owner may always change the permissions, from his unelevated
// programs too. For the start of each elevated program.
void OwnWhatThisProcessMakesAsAdministrators();

// The account this process runs as, as the judgements of what only administrators could change
// take it. On Windows an administrator's unelevated programs carry his own SID too: what his SID
// owns or may change, his unelevated side may change, so the account is another user there. It
// counts among the trusted only where what this process makes comes out owned by the account
// whatever owner it asks for (a file system that keeps no owners apart, as Wine's): there its SID
// is on everything, what only administrators made included.
class CRunningAccount {
public:
    CRunningAccount();
    ~CRunningAccount();
    // The account where it counts among the trusted, else null.
    PSID Trusted() const { return m_bTrusted ? m_sid : NULL; }

private:
    PSID m_sid;
    bool m_bTrusted;
    CRunningAccount(const CRunningAccount &);
    CRunningAccount &operator=(const CRunningAccount &);
};

// How an object of an install folder stands, by its descriptor: whether anyone but the trusted
// accounts above could change it, write into it or change what is made in it, and if so whether
// only through entries it inherits (which protecting the folder above it takes away) or through
// its owner or entries of its own (which stay). An owner may always change the permissions, and
// a handle opened meanwhile keeps that right after any protection: nobody else's object is ever
// taken over, the running account's own where it is not trusted included.
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

