#include "app/SilentInstall.h"
#include "app/InstallOptions.h"
#include "app/Outcomes.h"
#include "app/Versions.h"
#include "base/Format.h"
#include "base/SetupLog.h"
#include "base/SetupText.h"
#include "engine/RunningBrowser.h"
#include "pages/FolderText.h"

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
                L"/Log=<文件>\t将安装过程记录到 UTF-8 日志文件\r\n"
                L"/?\t显示本说明",
                g_strSetupTitle, MB_OK | MB_ICONINFORMATION);
}
