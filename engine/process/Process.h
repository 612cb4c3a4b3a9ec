// Starting programs.
#pragma once
#include <windows.h>

// Starts a command line (program path first) with the given show mode. Wait 0 returns TRUE once
// the process exists; any other wait returns TRUE only if the process ended within it (INFINITE
// waits without limit). FALSE when the process could not be created. No handle of ours is
// inherited by the new process.
BOOL ExecCommandLine(WCHAR *commandLine, int showMode, DWORD waitMilliseconds);
// Starts a command line as ExecCommandLine does; the process handle (the caller closes it), or
// null when it could not be created.
HANDLE StartCommandLine(WCHAR *commandLine, int showMode);
// The same, in `folder` and with this process's environment as EditedEnvironment passes it on,
// but for TEMP and TMP, which name `folder`: a program started elevated keeps its temporary
// files there, and looks for nothing in the folder the user started the setup from, not in
// folders the user may change. Null, and nothing started, when the environment cannot be made.
// With `job`, the process and whatever it starts belong to that job from their first instruction.
HANDLE StartCommandLineWithTemporaryFolder(WCHAR *commandLine, int showMode, const WCHAR *folder, HANDLE job = NULL);
// Whether a process of `job` still runs; also when that cannot be told.
bool ProcessesMayRemainIn(HANDLE job);

// Whether `user` is one of the machine's own accounts (SYSTEM, LocalService, NetworkService), as
// deployment tools (Group Policy, Intune, Configuration Manager) run the setup: nobody's profile
// that a person logs on with.
bool IsMachineAccount(PSID user);
// Whether this process runs as one; the tests stand in for the machine's account with the hook
// (null: the process's own token decides).
bool RunsAsMachineAccount();
void SetMachineAccountHook(bool (*runsAsMachineAccount)());

// Whether a group of a token stays enabled in a token made for the user's own programs: only
// the plain user's (Everyone, Users, Authenticated Users, Interactive, the logon session's);
// every other (Administrators, Backup Operators, Power Users, a domain's admins, any group a
// domain adds) only denies there.
bool GroupStaysWithTheUser(PSID group, DWORD attributes);

// Starts a command line as StartCommandLine does, for the user where the desktop shell cannot:
// with a copy of this process's token in which every group but those GroupStaysWithTheUser keeps
// only denies access, with no privilege beyond the basic ones and, from Vista on, at medium
// integrity, all checked before use.
// False, and nothing started, when this process runs as a service account or as someone other
// than the desktop's user, when no such token could be made, or the process not created.
bool StartWithoutAdministratorRights(WCHAR *commandLine, int showMode);

// A copy of the token StartWithoutAdministratorRights starts with, made for acting on a thread of
// this process: this process's own account, its groups beyond the plain user's only denying. For what
// concerns only that account's own files (its profile's links, its settings), which the account
// may change without elevation. Null when none can be made; the caller closes it.
HANDLE CreateOwnAccountToken();

// A copy of this process's token for acting on a thread, with the right to open any process
// enabled (SeDebugPrivilege). Administrators and the machine's account hold it but leave it off,
// and without it an administrator's program cannot even name the program of another user's
// process. Null where this process holds no such right; the caller closes it.
HANDLE CreateProcessInspectorToken();

// While it lives, the calling thread acts with `token` (CreateOwnAccountToken's or
// CreateProcessInspectorToken's); then with the rights it had before. Acting() is false, and the
// thread keeps its rights, when the token is null or the thread could not take it on: what was to
// be done with it is then not done.
class CThreadToken {
public:
    explicit CThreadToken(HANDLE token);
    ~CThreadToken();
    bool Acting() const { return m_bActing; }

private:
    CThreadToken(const CThreadToken &);
    CThreadToken &operator=(const CThreadToken &);
    HANDLE m_hBefore;
    bool m_bActing;
};

// Starts a program as the signed-in user rather than with this process's (administrator)
// rights: the desktop shell, which runs with the user's own rights, is asked to start it. False
// when the shell could not be reached or did not start it.
bool ShellExecuteAsDesktopUser(const WCHAR *file, const WCHAR *arguments, const WCHAR *folder, int showMode);
// The desktop shell's window: the one Windows knows as the shell's or, where the shell has not
// told Windows (Wine's does not), the one the shell's list of its windows gives for the desktop,
// through which ShellExecuteAsDesktopUser starts programs. Null without a shell. The calling
// thread has joined COM.
HWND DesktopShellWindow();
