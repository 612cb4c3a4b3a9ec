#include "app/Outcomes.h"
#include "base/SetupLog.h"

const WCHAR *DescribeOutcome(int code)
{
    switch (code) {
    case kOutcomeDone:
        return L"完成";
    case kOutcomeRestartNeeded:
        return L"已完成，重新启动计算机后生效";
    case kOutcomeBadArguments:
        return L"命令行参数无效";
    case kOutcomeLogRefused:
        return L"无法使用日志文件";
    case kOutcomeFolderRefused:
        return L"安装目录不可用";
    case kOutcomeBrowserRunning:
        return L"岚舟浏览器正在运行";
    case kOutcomeAnotherSetup:
        return L"另一个安装程序正在运行";
    case kOutcomeDiskFull:
        return L"磁盘空间不足";
    case kOutcomePayloadDamaged:
        return L"安装程序已损坏";
    case kOutcomeCopyFailed:
        return L"复制文件失败，已恢复原状";
    case kOutcomeNotElevated:
        return L"需要管理员权限";
    case kOutcomeCancelled:
        return L"安装已取消";
    case kOutcomeNewerInstalled:
        return L"已安装较新的版本，未作改动";
    case kOutcomeRecordKept:
        return L"已安装，但安装记录未能写入或合并，原有的记录未作改动";
    case kOutcomeNotInstalled:
        return L"找不到安装记录";
    case kOutcomeRecordRefused:
        return L"安装记录已损坏或不可信";
    case kOutcomeOthersCouldChange:
        return L"其他用户可以更改安装目录";
    case kOutcomeFilesStayed:
        return L"部分文件未能删除，请稍后再次运行卸载程序";
    case -1:
        return L"交互式运行结束";
    }
    return L"未知";
}

int EndRun(int code)
{
    LogStep(L"退出代码 %d：%s", code, DescribeOutcome(code));
    CloseSetupLog();
    return code;
}

bool RunsAsAdministrator()
{
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = NULL;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators))
        return false;
    // A filtered token holds the group for denying only: not a member then.
    BOOL member = FALSE;
    bool checked = CheckTokenMembership(NULL, administrators, &member) != FALSE;
    FreeSid(administrators);
    return checked && member;
}
