#include "engine/process/Process.h"
#include "base/DllSafety.h"
#include "base/SystemEnvironment.h"
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>
#include <winsafer.h>

namespace {

// Starts a command line with `token`, or without one with this process's own; in `folder` where
// one is given, else in this process's current folder.
// With `job`, the process joins it before it runs, so that whatever it starts joins it too.
HANDLE StartWithToken(HANDLE token, WCHAR *commandLine, int showMode, WCHAR *environment = NULL, const WCHAR *folder = NULL,
                      HANDLE job = NULL)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEOFFFEEDBACK;
    startup.wShowWindow = (WORD)showMode;
    PROCESS_INFORMATION process = {};
    DWORD flags = (environment ? CREATE_UNICODE_ENVIRONMENT : 0) | (job ? CREATE_SUSPENDED : 0);
    BOOL created = token ? CreateProcessAsUserW(token, NULL, commandLine, NULL, NULL, FALSE, flags, environment, folder, &startup, &process)
                         : CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, flags, environment, folder, &startup, &process);
    if (!created)
        return NULL;
    // Where it cannot join (Windows 7 nests no jobs), it runs all the same, unwatched.
    if (job) {
        AssignProcessToJobObject(job, process.hProcess);
        // One that cannot be resumed would wait in the job for ever, holding what it was given.
        if (ResumeThread(process.hThread) == (DWORD)-1) {
            TerminateProcess(process.hProcess, ERROR_PROCESS_ABORTED);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            return NULL;
        }
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

bool WellKnownSid(WELL_KNOWN_SID_TYPE type, BYTE (&sid)[SECURITY_MAX_SID_SIZE])
{
    DWORD size = sizeof(sid);
    return CreateWellKnownSid(type, NULL, sid, &size) != FALSE;
}

// The token of the Safer "normal user" level. A stub of the Safer functions (Wine's) hands out a
// value that is no handle at all: only a real one is kept.
HANDLE SaferNormalUserToken()
{
    SAFER_LEVEL_HANDLE level = NULL;
    if (!SaferCreateLevel(SAFER_SCOPEID_USER, SAFER_LEVELID_NORMALUSER, SAFER_LEVEL_OPEN, &level, NULL))
        return NULL;
    HANDLE token = NULL;
    if (!SaferComputeTokenFromLevel(level, NULL, &token, 0, NULL))
        token = NULL;
    SaferCloseLevel(level);
    DWORD flags = 0;
    return token && GetHandleInformation(token, &flags) ? token : NULL;
}

TOKEN_GROUPS *TokenGroupsOf(HANDLE token)
{
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, NULL, 0, &size);
    TOKEN_GROUPS *groups = size ? (TOKEN_GROUPS *)LocalAlloc(LPTR, size) : NULL;
    if (groups && !GetTokenInformation(token, TokenGroups, groups, size, &size)) {
        LocalFree(groups);
        groups = NULL;
    }
    return groups;
}

// The same made from this process's token directly, where Safer gives none: every group but the
// plain user's (GroupStaysWithTheUser) for denying only, every privilege but the basic ones dropped.
HANDLE RestrictedOwnToken()
{
    HANDLE own = NULL, restricted = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                          &own))
        return NULL;
    TOKEN_GROUPS *groups = TokenGroupsOf(own);
    SID_AND_ATTRIBUTES *denyOnly = groups ? (SID_AND_ATTRIBUTES *)LocalAlloc(LPTR, (groups->GroupCount + 1) * sizeof(SID_AND_ATTRIBUTES)) : NULL;
    DWORD count = 0;
    for (DWORD i = 0; denyOnly && i < groups->GroupCount; ++i) {
        // A label is no group: the level is set apart.
        if (groups->Groups[i].Attributes & SE_GROUP_INTEGRITY)
            continue;
        if (!GroupStaysWithTheUser(groups->Groups[i].Sid, groups->Groups[i].Attributes)) {
            denyOnly[count].Sid = groups->Groups[i].Sid;
            denyOnly[count++].Attributes = 0;
        }
    }
    if (!denyOnly || !CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, count, denyOnly, 0, NULL, 0, NULL, &restricted))
        restricted = NULL;
    LocalFree(denyOnly);
    LocalFree(groups);
    CloseHandle(own);
    return restricted;
}

// The token's integrity level's RID; false where the system keeps no levels (before Vista).
bool IntegrityOf(HANDLE token, DWORD &rid)
{
    BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size))
        return false;
    PSID label = ((TOKEN_MANDATORY_LABEL *)buffer)->Label.Sid;
    rid = *GetSidSubAuthorityCount(label) ? *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1) : 0;
    return true;
}

// A program at high integrity would be out of reach of the user's other programs (dragging a
// link onto its window, say). False where the token keeps a level above medium: a level that
// cannot be set is no token to start the user's programs with. Before Vista there are no levels;
// a system that takes the new level without keeping it (Wine, which enforces none) is as one
// without them.
bool LowerToMediumIntegrity(HANDLE token)
{
    DWORD before = 0, after = 0;
    if (!IntegrityOf(token, before))
        return true;
    BYTE medium[SECURITY_MAX_SID_SIZE];
    if (!WellKnownSid(WinMediumLabelSid, medium))
        return false;
    TOKEN_MANDATORY_LABEL label = {{medium, SE_GROUP_INTEGRITY}};
    if (before > SECURITY_MANDATORY_MEDIUM_RID &&
        !SetTokenInformation(token, TokenIntegrityLevel, &label, sizeof(label) + GetLengthSid(medium)))
        return false;
    return IntegrityOf(token, after) && (after <= SECURITY_MANDATORY_MEDIUM_RID || after == before);
}

// Whether `token` grants anything through a group beyond the plain user's: one present and
// enabled, not only for denying. True also when the token cannot be read.
bool TokenGrantsMoreThanTheUsers(HANDLE token)
{
    TOKEN_GROUPS *groups = TokenGroupsOf(token);
    bool grants = groups == NULL;
    for (DWORD i = 0; groups && i < groups->GroupCount && !grants; ++i) {
        DWORD attributes = groups->Groups[i].Attributes;
        grants = (attributes & SE_GROUP_ENABLED) && !(attributes & (SE_GROUP_USE_FOR_DENY_ONLY | SE_GROUP_INTEGRITY)) &&
                 !GroupStaysWithTheUser(groups->Groups[i].Sid, attributes);
    }
    LocalFree(groups);
    return grants;
}

// Whether `token` is the person's at this desktop: not a service account, and, where the desktop
// names its logon session, of that session. A setup run as SYSTEM on a user's desktop, or with an
// administrator's password typed for another user, would otherwise give that user a browser
// running as an account that is not his.
bool BelongsToTheDesktopUser(HANDLE token)
{
    BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenUser, user, sizeof(user), &size))
        return false;
    PSID sid = ((TOKEN_USER *)user)->User.Sid;
    if (IsMachineAccount(sid))
        return false;
    BYTE logon[SECURITY_MAX_SID_SIZE];
    DWORD needed = 0;
    if (!GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_USER_SID, logon, sizeof(logon), &needed) ||
        needed == 0 || !IsValidSid((PSID)logon))
        return true;  // a desktop that names no session (Wine): the account decides
    GetTokenInformation(token, TokenGroups, NULL, 0, &size);
    TOKEN_GROUPS *groups = size ? (TOKEN_GROUPS *)LocalAlloc(LPTR, size) : NULL;
    bool member = false;
    if (groups && GetTokenInformation(token, TokenGroups, groups, size, &size)) {
        for (DWORD i = 0; i < groups->GroupCount && !member; ++i)
            member = EqualSid(groups->Groups[i].Sid, (PSID)logon) != FALSE;
    }
    LocalFree(groups);
    return member;
}

// The copy of this process's token StartWithoutAdministratorRights starts with (the caller
// closes it); null when none can be made.
HANDLE CreateTokenWithoutAdministratorRights()
{
    HANDLE (*const makers[])() = {SaferNormalUserToken, RestrictedOwnToken};
    for (HANDLE (*make)() : makers) {
        HANDLE token = make();
        if (token && !TokenGrantsMoreThanTheUsers(token) && LowerToMediumIntegrity(token))
            return token;
        if (token)
            CloseHandle(token);
    }
    return NULL;
}

}

bool IsMachineAccount(PSID user)
{
    const WELL_KNOWN_SID_TYPE services[] = {WinLocalSystemSid, WinLocalServiceSid, WinNetworkServiceSid};
    for (WELL_KNOWN_SID_TYPE service : services) {
        if (user && IsValidSid(user) && IsWellKnownSid(user, service))
            return true;
    }
    return false;
}

static bool (*g_runsAsMachineAccount)() = NULL;

void SetMachineAccountHook(bool (*runsAsMachineAccount)())
{
    g_runsAsMachineAccount = runsAsMachineAccount;
}

bool RunsAsMachineAccount()
{
    if (g_runsAsMachineAccount)
        return g_runsAsMachineAccount();
    HANDLE token = NULL;
    BYTE user[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD size = 0;
    bool machine = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                   GetTokenInformation(token, TokenUser, user, sizeof(user), &size) &&
                   IsMachineAccount(((TOKEN_USER *)user)->User.Sid);
    if (token)
        CloseHandle(token);
    return machine;
}

bool GroupStaysWithTheUser(PSID group, DWORD attributes)
{
    if (attributes & SE_GROUP_LOGON_ID)
        return true;
    const WELL_KNOWN_SID_TYPE plain[] = {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid, WinInteractiveSid};
    for (WELL_KNOWN_SID_TYPE type : plain) {
        if (IsValidSid(group) && IsWellKnownSid(group, type))
            return true;
    }
    return false;
}

HANDLE StartCommandLine(WCHAR *commandLine, int showMode)
{
    return StartWithToken(NULL, commandLine, showMode);
}

HANDLE StartCommandLineWithTemporaryFolder(WCHAR *commandLine, int showMode, const WCHAR *folder, HANDLE job)
{
    WCHAR *current = GetEnvironmentStringsW();
    const EnvironmentValue temporary[] = {{L"TEMP", folder}, {L"TMP", folder}};
    WCHAR *environment = current ? EditedEnvironment(current, temporary, 2) : NULL;
    if (current)
        FreeEnvironmentStringsW(current);
    if (!environment)
        return NULL;
    HANDLE process = StartWithToken(NULL, commandLine, showMode, environment, folder, job);
    HeapFree(GetProcessHeap(), 0, environment);
    return process;
}

bool StartWithoutAdministratorRights(WCHAR *commandLine, int showMode)
{
    HANDLE own = NULL;
    bool desktopUser = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own) && BelongsToTheDesktopUser(own);
    if (own)
        CloseHandle(own);
    HANDLE token = desktopUser ? CreateTokenWithoutAdministratorRights() : NULL;
    // The user's program gets the user's environment, as from the shell, not the one this
    // process keeps to the system's.
    WCHAR *environment = token ? EnvironmentOf(token) : NULL;
    HANDLE process = token ? StartWithToken(token, commandLine, showMode, environment) : NULL;
    FreeEnvironmentOf(environment);
    if (token)
        CloseHandle(token);
    if (process)
        CloseHandle(process);
    return process != NULL;
}

HANDLE CreateOwnAccountToken()
{
    HANDLE primary = CreateTokenWithoutAdministratorRights();
    HANDLE acting = NULL;
    if (primary && !DuplicateTokenEx(primary, TOKEN_IMPERSONATE | TOKEN_QUERY, NULL, SecurityImpersonation,
                                     TokenImpersonation, &acting))
        acting = NULL;
    if (primary)
        CloseHandle(primary);
    return acting;
}

HANDLE CreateProcessInspectorToken()
{
    HANDLE own = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, &own))
        return NULL;
    HANDLE inspector = NULL;
    if (!DuplicateTokenEx(own, TOKEN_IMPERSONATE | TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, NULL,
                          SecurityImpersonation, TokenImpersonation, &inspector))
        inspector = NULL;
    CloseHandle(own);
    TOKEN_PRIVILEGES debug = {};
    debug.PrivilegeCount = 1;
    debug.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // AdjustTokenPrivileges succeeds with ERROR_NOT_ALL_ASSIGNED where the token lacks the right.
    if (inspector && (!LookupPrivilegeValueW(NULL, SE_DEBUG_NAME, &debug.Privileges[0].Luid) ||
                      !AdjustTokenPrivileges(inspector, FALSE, &debug, 0, NULL, NULL) ||
                      GetLastError() != ERROR_SUCCESS)) {
        CloseHandle(inspector);
        inspector = NULL;
    }
    return inspector;
}

CThreadToken::CThreadToken(HANDLE token) : m_hBefore(NULL), m_bActing(false)
{
    if (!token)
        return;
    // A thread already acting for someone returns to that, not to this process's rights; where
    // that cannot be, it keeps the account's rather than take on the process's.
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, &m_hBefore)) {
        m_hBefore = NULL;
        if (GetLastError() != ERROR_NO_TOKEN)
            return;
    }
    m_bActing = SetThreadToken(NULL, token) != FALSE;
}

CThreadToken::~CThreadToken()
{
    if (m_bActing && m_hBefore)
        SetThreadToken(NULL, m_hBefore);
    else if (m_bActing)
        RevertToSelf();
    if (m_hBefore)
        CloseHandle(m_hBefore);
}

BOOL ExecCommandLine(WCHAR *commandLine, int showMode, DWORD waitMilliseconds)
{
    HANDLE process = StartCommandLine(commandLine, showMode);
    if (!process)
        return FALSE;
    DWORD waited = waitMilliseconds == 0 ? WAIT_OBJECT_0 : WaitForSingleObject(process, waitMilliseconds);
    CloseHandle(process);
    return waited == WAIT_OBJECT_0;
}

bool ProcessesMayRemainIn(HANDLE job)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    return !QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting, sizeof(accounting), NULL) ||
           accounting.ActiveProcesses > 0;
}

namespace {

// A VT_BSTR variant that frees its string.
struct BstrVariant {
    VARIANT value;
    explicit BstrVariant(const WCHAR *text)
    {
        Clear();
        if (text) {
            value.vt = VT_BSTR;
            value.bstrVal = AllocateBstr(text);
        }
    }
    ~BstrVariant()
    {
        if (value.vt == VT_BSTR)
            FreeBstr(value.bstrVal);
    }
    void Clear()
    {
        ZeroMemory(&value, sizeof(value));
        value.vt = VT_EMPTY;
    }
};

template <class Interface> void Release(Interface *&pointer)
{
    if (pointer)
        pointer->Release();
    pointer = NULL;
}

// The shell's own entry for the desktop, from its list of windows: its dispatch object (release
// it) and its window. False where no shell answers.
bool FindShellDesktop(IDispatch *&desktop, long &window)
{
    desktop = NULL;
    window = 0;
    IShellWindows *windows = NULL;
    VARIANT location, root;
    ZeroMemory(&location, sizeof(location));
    ZeroMemory(&root, sizeof(root));
    location.vt = root.vt = VT_EMPTY;
    // Each step must answer S_OK: S_FALSE means it found nothing.
    bool found = CoCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER, IID_IShellWindows, (void **)&windows) == S_OK &&
                 windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) == S_OK && desktop;
    Release(windows);
    if (!found)
        Release(desktop);
    return found;
}

// The desktop's folder view, through which the shell starts programs as the user.
IShellDispatch2 *DesktopShellDispatch()
{
    IDispatch *desktop = NULL;
    IServiceProvider *services = NULL;
    IShellBrowser *browser = NULL;
    IShellView *view = NULL;
    IDispatch *background = NULL;
    IShellFolderViewDual *folderView = NULL;
    IDispatch *application = NULL;
    IShellDispatch2 *shell = NULL;
    long window = 0;
    // Each step must answer S_OK: S_FALSE means it found nothing.
    if (FindShellDesktop(desktop, window) &&
        desktop->QueryInterface(IID_IServiceProvider, (void **)&services) == S_OK &&
        services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, (void **)&browser) == S_OK &&
        browser->QueryActiveShellView(&view) == S_OK &&
        view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, (void **)&background) == S_OK &&
        background->QueryInterface(IID_IShellFolderViewDual, (void **)&folderView) == S_OK &&
        folderView->get_Application(&application) == S_OK && application)
        application->QueryInterface(IID_IShellDispatch2, (void **)&shell);
    Release(application);
    Release(folderView);
    Release(background);
    Release(view);
    Release(browser);
    Release(services);
    Release(desktop);
    return shell;
}

}

bool ShellExecuteAsDesktopUser(const WCHAR *file, const WCHAR *arguments, const WCHAR *folder, int showMode)
{
    BSTR fileText = file ? AllocateBstr(file) : NULL;
    IShellDispatch2 *shell = fileText ? DesktopShellDispatch() : NULL;
    if (!shell) {
        FreeBstr(fileText);
        return false;
    }
    BstrVariant args(arguments ? arguments : L""), directory(folder ? folder : L""), operation(L"open");
    VARIANT show;
    ZeroMemory(&show, sizeof(show));
    show.vt = VT_I4;
    show.lVal = showMode;
    bool started = shell->ShellExecute(fileText, args.value, directory.value, operation.value, show) == S_OK;
    FreeBstr(fileText);
    shell->Release();
    return started;
}

HWND DesktopShellWindow()
{
    HWND shell = GetShellWindow();
    if (shell)
        return shell;
    IDispatch *desktop = NULL;
    long window = 0;
    if (FindShellDesktop(desktop, window))
        shell = (HWND)(LONG_PTR)window;
    Release(desktop);
    return shell;
}
