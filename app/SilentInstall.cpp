#include "app/SilentInstall.h"
#include "app/InstallOptions.h"
#include "app/Outcomes.h"
#include "app/Versions.h"
#include "base/Format.h"
#include "base/SetupLog.h"
#include "base/SetupText.h"
#include "base/FolderSecurity.h"
#include "engine/process/RunningBrowser.h"
#include "pages/FolderText.h"
#include <aclapi.h>
#include <sddl.h>

bool ApplyArguments(const Arguments &arguments, CInstallOptions &options, WCHAR (&refusal)[256])
{
    refusal[0] = 0;
    WCHAR folder[MAX_PATH] = L"";
    if (arguments.folder[0]) {
        FolderVerdict verdict = PrepareFolderText(arguments.folder, folder);
        if (verdict != kFolderAccepted) {
            FormatFolderRefusal(verdict, folder, refusal, 256);
            return false;
        }
        RemoveTrailingBackslash(folder);
        Copy(options.m_strInstallDir, folder);
    }
    const struct {
        int given;
        BOOL *choice;
    } choices[] = {{arguments.desktopShortcut, &options.m_bDesktopShortcut},
                   {arguments.quickLaunchShortcut, &options.m_bQuickLaunch},
                   {arguments.defaultBrowser, &options.m_bDefaultBrowser}};
    for (const auto &choice : choices) {
        if (choice.given != kOptionUnset)
            *choice.choice = choice.given;
    }
    // Only ever taken away: as the machine's account there are no parts of its own to make.
    if (arguments.userParts == 0)
        options.m_bUserParts = false;
    return true;
}

int RunSilentInstall(const Arguments &arguments)
{
    if (!RunsAsAdministrator())
        return kOutcomeNotElevated;
    CInstallOptions &options = CInstallOptions::Instance();
    options.DetectFolders();
    static const WCHAR *const states[] = {L"未安装", L"已安装较早的版本", L"已安装相同的版本", L"已安装较新的版本"};
    LogStep(L"检测到：%s", options.m_nState >= 0 && options.m_nState < 4 ? states[options.m_nState] : L"未知");
    if (options.m_nState == kStateNewerInstalled && arguments.downgrade == 0) {
        LogStep(L"/Downgrade=0：不以较早的版本替换已安装的较新版本");
        return kOutcomeNewerInstalled;
    }
    WCHAR refusal[256];
    if (!ApplyArguments(arguments, options, refusal)) {
        LogStep(L"安装目录不可用：%s", refusal);
        return kOutcomeFolderRefused;
    }
    SetSilentRunEndsBrowser(arguments.closeBrowser == 1);
    if (!options.ExtractPayload())
        LogFailure(GetLastError(), L"无法解压安装文件");
    options.RunInstall(NULL);
    return options.m_nOutcome;
}

typedef HANDLE(WINAPI *CreateBoundaryDescriptorFn)(LPCWSTR, ULONG);
typedef BOOL(WINAPI *AddSidToBoundaryDescriptorFn)(HANDLE *, PSID);
typedef VOID(WINAPI *DeleteBoundaryDescriptorFn)(HANDLE);
typedef HANDLE(WINAPI *CreatePrivateNamespaceFn)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
typedef HANDLE(WINAPI *OpenPrivateNamespaceFn)(LPVOID, LPCWSTR);
typedef BOOLEAN(WINAPI *ClosePrivateNamespaceFn)(HANDLE, ULONG);

static FARPROC Kernel32Function(const char *name)
{
    return GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name);
}

// The namespace "Velmarin" whose boundary holds the Administrators group: only a process with
// that group enabled can make or open it, and only administrators and SYSTEM may use it. Null
// where the system has no private namespaces (Windows XP, Wine).
static HANDLE OpenAdministratorsNamespace()
{
    auto createBoundary = (CreateBoundaryDescriptorFn)(void *)Kernel32Function("CreateBoundaryDescriptorW");
    auto addSid = (AddSidToBoundaryDescriptorFn)(void *)Kernel32Function("AddSIDToBoundaryDescriptor");
    auto deleteBoundary = (DeleteBoundaryDescriptorFn)(void *)Kernel32Function("DeleteBoundaryDescriptor");
    auto createSpace = (CreatePrivateNamespaceFn)(void *)Kernel32Function("CreatePrivateNamespaceW");
    auto openSpace = (OpenPrivateNamespaceFn)(void *)Kernel32Function("OpenPrivateNamespaceW");
    if (!createBoundary || !addSid || !deleteBoundary || !createSpace || !openSpace)
        return NULL;
    // Wine exports the rest of these as stubs that end the process: nothing is called on a
    // boundary that could not be made.
    HANDLE boundary = createBoundary(L"Velmarin", 0);
    if (!boundary)
        return NULL;
    HANDLE space = NULL;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), NULL, FALSE};
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, administrators, &size) &&
        addSid(&boundary, administrators) &&
        ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;BA)(A;;GA;;;SY)", SDDL_REVISION_1,
                                                             &attributes.lpSecurityDescriptor, NULL)) {
        space = createSpace(&attributes, boundary, L"Velmarin");
        if (!space && GetLastError() == ERROR_ALREADY_EXISTS)
            space = openSpace(boundary, L"Velmarin");
        LocalFree(attributes.lpSecurityDescriptor);
    }
    deleteBoundary(boundary);
    return space;
}

// Whether an existing object was made by a setup: its owner is Administrators, SYSTEM or this
// user where this user counts among them (see CRunningAccount; an elevated setup's objects are
// the Administrators' on Windows, and the user's own unelevated programs carry his SID). Windows
// gives every object an owner (the maker's); only Wine leaves one without, for an object made
// without a descriptor, as every setup makes its mutex.
static bool MadeByASetup(HANDLE object)
{
    PSID owner = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, NULL, NULL, NULL,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    CRunningAccount account;
    bool trusted = !owner || OwnerIsAdministratorsOr(owner, account.Trusted());
    LocalFree(descriptor);
    return trusted;
}

bool TakeSilentRunLock(SilentRunLock &lock)
{
    lock.space = OpenAdministratorsNamespace();
    lock.mutex = lock.space ? CreateMutexW(NULL, FALSE, L"Velmarin\\SilentSetup") : NULL;
    if (lock.mutex) {
        DWORD wait = WaitForSingleObject(lock.mutex, 0);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
            LogStep(L"另一个静默安装正在运行");
            ReleaseSilentRunLock(lock);
            return false;
        }
    } else {
        // Without the namespace the wizard's mutex alone tells another silent run.
        LogStep(L"无法使用仅限管理员的专用命名空间，仅以安装程序的互斥体判断其他安装");
    }
    lock.named = CreateMutexW(NULL, TRUE, g_strSetupTitle);
    if (lock.named && GetLastError() == ERROR_ALREADY_EXISTS) {
        if (MadeByASetup(lock.named)) {
            LogStep(L"另一个安装程序正在运行");
            ReleaseSilentRunLock(lock);
            return false;
        }
        // Another user's object of that name: it tells nothing and cannot stop the run.
        LogStep(L"已忽略其他用户创建的同名互斥体");
        CloseHandle(lock.named);
        lock.named = NULL;
    }
    return true;
}

void ReleaseSilentRunLock(SilentRunLock &lock)
{
    if (lock.named)
        CloseHandle(lock.named);
    if (lock.mutex) {
        ReleaseMutex(lock.mutex);
        CloseHandle(lock.mutex);
    }
    if (lock.space)
        ((ClosePrivateNamespaceFn)(void *)Kernel32Function("ClosePrivateNamespace"))(lock.space, 0);
    lock.named = lock.mutex = lock.space = NULL;
}

void ShowCommandLineHelp()
{
    MessageBoxW(NULL,
                L"岚舟浏览器安装程序的命令行选项：\r\n\r\n"
                L"/S\t静默安装：不显示页面和提示，以退出代码报告结果\r\n"
                L"/D=<目录>\t安装目录；须放在最后，目录中的空格无需引号\r\n"
                L"/DesktopShortcut=0|1\t创建桌面快捷方式（默认为 1）\r\n"
                L"/QuickLaunchShortcut=0|1\t添加到快速启动栏或任务栏（默认为 1）\r\n"
                L"/DefaultBrowser=0|1\t设为默认浏览器（默认为 1）\r\n"
                L"/CloseBrowser=0|1\t静默安装时浏览器正在运行：0 不作改动并退出（默认），1 强制退出浏览器\r\n"
                L"/Downgrade=0|1\t静默安装时已安装较新的版本：1 仍然安装本版本（默认），0 不作改动并退出\r\n"
                L"/UserParts=0|1\t为本帐户创建收藏栏链接、快速启动栏和浏览器设置（默认为 1）；\r\n"
                L"\t0 则每个用户在下次登录时得到自己的\r\n"
                L"/Log=<文件>\t将安装过程记录到 UTF-8 日志文件\r\n"
                L"/?\t显示本说明",
                g_strSetupTitle, MB_OK | MB_ICONINFORMATION);
}
